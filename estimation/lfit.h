#pragma once

// Fills afunc[1..ma] with the basis values at (x, y).
using BasisFunction2D = void (*)(double x, double y, double* afunc);

// General linear least squares by normal equations, unit-offset arrays.
// Fits the parameters with ia[j] != 0, holds the others at a[j].
void lfit(double* x, double* y, double* z, double* sig, int ndat, double* a, int* ia, int ma,
          double** covar, double* chisq, BasisFunction2D funcs);

// Gauss-Jordan elimination with full pivoting: a (n x n) becomes its
// inverse, b (n x m) the solutions. A singular matrix ends the process.
void gaussj(double** a, int n, double** b, int m);

// Spreads the packed mfit x mfit covariance to the full parameter order.
void covar_expand(double** covar, int ma, int* ia, int mfit);
