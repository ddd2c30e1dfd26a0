#include "estimation/lfit.h"

#include "numeric/alloc.h"
#include "numeric/fatal.h"

#include <cmath>
#include <utility>

void lfit(double* x, double* y, double* z, double* sig, int ndat, double* a, int* ia, int ma,
          double** covar, double* chisq, BasisFunction2D funcs) {
    DMatrix beta(1, ma, 1, 1);
    DVector afunc(1, ma);

    int mfit = 0;
    for (int j = 1; j <= ma; j++)
        if (ia[j])
            mfit++;
    if (mfit == 0)
        run_time_error("ERROR lfit: no parameters to be fitted");

    for (int j = 1; j <= mfit; j++)
        for (int k = 1; k <= mfit; k++)
            covar[j][k] = 0.0;
    for (int j = 1; j <= ma; j++)
        beta[j][1] = 0.0;

    // Normal equations over the fitted parameters only, in packed order; held
    // parameters are moved to the data side.
    for (int i = 1; i <= ndat; i++) {
        funcs(x[i], y[i], afunc);
        double zr = z[i];
        if (mfit < ma)
            for (int j = 1; j <= ma; j++)
                if (!ia[j])
                    zr -= a[j] * afunc[j];
        const double w = 1.0 / (sig[i] * sig[i]);
        int jl = 0;
        for (int l = 1; l <= ma; l++) {
            if (!ia[l])
                continue;
            const double wt = afunc[l] * w;
            jl++;
            int km = 0;
            for (int m = 1; m <= l; m++)
                if (ia[m])
                    covar[jl][++km] += wt * afunc[m];
            beta[jl][1] += zr * wt;
        }
    }
    for (int j = 2; j <= mfit; j++)
        for (int k = 1; k < j; k++)
            covar[k][j] = covar[j][k];

    gaussj(covar, mfit, beta, 1);

    for (int j = 0, l = 1; l <= ma; l++)
        if (ia[l])
            a[l] = beta[++j][1];

    *chisq = 0.0;
    for (int i = 1; i <= ndat; i++) {
        funcs(x[i], y[i], afunc);
        double sum = 0.0;
        for (int j = 1; j <= ma; j++)
            sum += a[j] * afunc[j];
        const double r = (z[i] - sum) / sig[i];
        *chisq += r * r;
    }

    covar_expand(covar, ma, ia, mfit);
}

void gaussj(double** a, int n, double** b, int m) {
    IVector indxc(1, n), indxr(1, n), ipiv(1, n);
    for (int j = 1; j <= n; j++)
        ipiv[j] = 0;

    // Start values only matter if no candidate compares (all NaN); they keep
    // the indices defined.
    int irow = 1;
    int icol = 1;
    for (int i = 1; i <= n; i++) {
        // Full pivot search over unused rows and columns; '>=' lets the last
        // of equal magnitudes win.
        double big = 0.0;
        for (int j = 1; j <= n; j++) {
            if (ipiv[j] == 1)
                continue;
            for (int k = 1; k <= n; k++) {
                if (ipiv[k] == 0) {
                    if (std::fabs(a[j][k]) >= big) {
                        big = std::fabs(a[j][k]);
                        irow = j;
                        icol = k;
                    }
                } else if (ipiv[k] > 1) {
                    fatal_error("\nERROR: gaussj: singular matrix 1\n");
                }
            }
        }
        ++ipiv[icol];

        // Bring the pivot onto the diagonal by a row exchange; the column
        // exchange is recorded and undone on the inverse at the end.
        if (irow != icol) {
            for (int l = 1; l <= n; l++)
                std::swap(a[irow][l], a[icol][l]);
            for (int l = 1; l <= m; l++)
                std::swap(b[irow][l], b[icol][l]);
        }
        indxr[i] = irow;
        indxc[i] = icol;
        if (a[icol][icol] == 0.0)
            fatal_error("\nERROR: gaussj: singular matrix 2\n");

        const double pivinv = 1.0 / a[icol][icol];
        a[icol][icol] = 1.0;
        for (int l = 1; l <= n; l++)
            a[icol][l] *= pivinv;
        for (int l = 1; l <= m; l++)
            b[icol][l] *= pivinv;
        for (int ll = 1; ll <= n; ll++) {
            if (ll == icol)
                continue;
            const double dum = a[ll][icol];
            a[ll][icol] = 0.0;
            for (int l = 1; l <= n; l++)
                a[ll][l] -= a[icol][l] * dum;
            for (int l = 1; l <= m; l++)
                b[ll][l] -= b[icol][l] * dum;
        }
    }

    for (int l = n; l >= 1; l--)
        if (indxr[l] != indxc[l])
            for (int k = 1; k <= n; k++)
                std::swap(a[k][indxr[l]], a[k][indxc[l]]);
}

void covar_expand(double** covar, int ma, int* ia, int mfit) {
    for (int i = mfit + 1; i <= ma; i++)
        for (int j = 1; j <= i; j++)
            covar[i][j] = covar[j][i] = 0.0;

    // Walk the packed block from its end, moving each fitted parameter's line
    // and column to its place in the full order.
    int k = mfit;
    for (int j = ma; j >= 1; j--) {
        if (!ia[j])
            continue;
        for (int i = 1; i <= ma; i++)
            std::swap(covar[i][k], covar[i][j]);
        for (int i = 1; i <= ma; i++)
            std::swap(covar[k][i], covar[j][i]);
        k--;
    }
}
