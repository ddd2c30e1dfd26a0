// Weighted linear least squares through the singular value decomposition of
// the design matrix, with the covariance of the fitted coefficients.

#include "fitting/svd.h"

#include "numeric/alloc.h"

namespace {

// Singular values below this fraction of the largest carry no information
// beyond rounding noise and are dropped from the solution.
constexpr double kSingularValueTolerance = 1.0e-20;

} // namespace

void svd_fit(double* x, double* y, double* z, double* sigma, int ndata, double* a, int ma,
             double** u, double** v, double* w, double* chisq, SvdBasisFunction funcs) {
    DVector b(1, ndata);
    DVector p(1, ma);

    // Each equation weighted by 1/sigma.
    for (int i = 1; i <= ndata; i++) {
        funcs(x[i], y[i], p);
        double weight = 1.0 / sigma[i];
        for (int j = 1; j <= ma; j++)
            u[i][j] = p[j] * weight;
        b[i] = z[i] * weight;
    }
    svdcmp(u, ndata, ma, w, v);

    double wmax = 0.0;
    for (int j = 1; j <= ma; j++)
        if (w[j] > wmax)
            wmax = w[j];
    double threshold = kSingularValueTolerance * wmax;
    for (int j = 1; j <= ma; j++)
        if (w[j] < threshold)
            w[j] = 0.0;

    svd_backsub(u, w, v, ndata, ma, b, a);

    *chisq = 0.0;
    for (int i = 1; i <= ndata; i++) {
        funcs(x[i], y[i], p);
        double model = 0.0;
        for (int j = 1; j <= ma; j++)
            model += a[j] * p[j];
        double residual = (z[i] - model) / sigma[i];
        *chisq += residual * residual;
    }
}

void svd_backsub(double** u, double* w, double** v, int m, int n, double* b, double* x) {
    DVector tmp(1, n);
    for (int j = 1; j <= n; j++) {
        double projection = 0.0;
        // A NaN singular value is not zero and propagates.
        if (w[j] != 0.0) {
            for (int i = 1; i <= m; i++)
                projection += u[i][j] * b[i];
            projection /= w[j];
        }
        tmp[j] = projection;
    }
    for (int j = 1; j <= n; j++) {
        double sum = 0.0;
        for (int k = 1; k <= n; k++)
            sum += v[j][k] * tmp[k];
        x[j] = sum;
    }
}

void svd_covar(double** v, int ma, double* w, double** cvm) {
    DVector wti(1, ma);
    for (int k = 1; k <= ma; k++)
        wti[k] = w[k] != 0.0 ? 1.0 / (w[k] * w[k]) : 0.0;
    for (int i = 1; i <= ma; i++) {
        for (int j = 1; j <= i; j++) {
            double sum = 0.0;
            for (int k = 1; k <= ma; k++)
                sum += v[i][k] * v[j][k] * wti[k];
            cvm[j][i] = cvm[i][j] = sum;
        }
    }
}

void offset_poly_basis(double x, double y, double* p) {
    p[1] = 1.0;
    p[2] = x;
    p[3] = y;
    p[4] = x * y;
    p[5] = x * x;
    p[6] = y * y;
}
