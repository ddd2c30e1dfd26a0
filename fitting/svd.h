#pragma once

// Fills p[1..ma] with the basis values at (x, y).
using SvdBasisFunction = void (*)(double x, double y, double* p);

// Weighted least squares through the SVD of the design matrix (unit-offset
// arrays): a[1..ma] the coefficients, u (ndata x ma) workspace and left
// singular vectors, v (ma x ma) right singular vectors, w[1..ma] singular values
// with the negligible ones set to 0.
void svd_fit(double* x, double* y, double* z, double* sigma, int ndata, double* a, int ma,
             double** u, double** v, double* w, double* chisq, SvdBasisFunction funcs);

// Golub-Reinsch decomposition of a[1..m][1..n] = U diag(w) V^T, in place.
void svdcmp(double** a, int m, int n, double* w, double** v);

// x = V diag(1/w) U^T b, with 1/0 taken as 0.
void svd_backsub(double** u, double* w, double** v, int m, int n, double* b, double* x);

// Covariance of the fitted coefficients from V and w.
void svd_covar(double** v, int ma, double* w, double** cvm);

// p[1..6] = 1, x, y, x*y, x^2, y^2: the offset polynomial's terms.
void offset_poly_basis(double x, double y, double* p);
