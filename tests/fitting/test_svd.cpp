#include "fitting/svd.h"
#include "numeric/alloc.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <gtest/gtest.h>
#include <unistd.h>
#include <vector>

namespace {

// Unit-offset storage of one fit: ndata measurements, ma coefficients.
struct Fit {
    Fit(int ndata, int ma)
        : n(ndata), ma(ma), x(1, ndata), y(1, ndata), z(1, ndata), sigma(1, ndata), a(1, ma),
          w(1, ma), u(1, std::max(ndata, 1), 1, ma), v(1, ma, 1, ma), cov(ma + 1, ma + 1) {}
    void run(SvdBasisFunction basis) {
        svd_fit(x, y, z, sigma, n, a, ma, u, v, w, &chisq, basis);
        svd_covar(v, ma, w, cov.get());
    }
    int n, ma;
    DVector x, y, z, sigma, a, w;
    DMatrix u, v;
    Array2D<double> cov;
    double chisq = -1.0;
};

double poly(const double* c, double x, double y) {
    return c[0] + c[1] * x + c[2] * y + c[3] * x * y + c[4] * x * x + c[5] * y * y;
}

const double kCoeffs[6] = {-3.25, 1.2e-4, -7.5e-5, 2.0e-9, -3.0e-9, 1.5e-9};

TEST(Svdcmp, SingularValuesOfSmallCases) {
    const struct {
        const char* what;
        int m, n;
        std::vector<double> a, w;
    } cases[] = {
        // Orthogonal columns: unsorted, the negative one flipped.
        {"column order kept", 4, 3, {0, -5, 0, 1, 0, 0, 0, 0, 0, 0, 0, 3}, {1, 5, 3}},
        // Bidiagonalised w = (-5, 3), superdiagonal 4: the first shift numerator
        // is -0, whose sign counts as positive, and the sweep leaves the smaller
        // singular value first. The opposite sign convention swaps them.
        {"zero shift numerator", 2, 2, {5, 4, 0, 3}, {std::sqrt(5.0), 3 * std::sqrt(5.0)}},
        // Beyond the float range the norm estimate is infinite, every
        // superdiagonal negligible and the bidiagonal diagonal returned as it
        // stands: 3e39, not the true singular value 5e39.
        {"single-precision norm estimate", 1, 2, {3e39, 4e39}, {3e39, 0}},
    };
    for (const auto& c : cases) {
        DMatrix u(1, c.m, 1, c.n), v(1, c.n, 1, c.n);
        DVector w(1, c.n);
        for (int i = 1; i <= c.m; i++)
            for (int j = 1; j <= c.n; j++)
                u[i][j] = c.a[(i - 1) * c.n + j - 1];
        svdcmp(u, c.m, c.n, w, v);
        for (int j = 1; j <= c.n; j++)
            EXPECT_NEAR(w[j], c.w[j - 1], 4 * DBL_EPSILON * c.w[j - 1]) << c.what << " " << j;
    }
}

TEST(SvdcmpDeathTest, NonFiniteMatrixNeverConverges) {
    DMatrix u(1, 3, 1, 2), v(1, 2, 1, 2);
    DVector w(1, 2);
    for (int i = 1; i <= 3; i++)
        u[i][1] = u[i][2] = i;
    u[2][2] = NAN;
    // The message goes to standard output: route it where the matcher looks.
    EXPECT_EXIT(
        {
            dup2(2, 1);
            svdcmp(u, 3, 2, w, v);
        },
        testing::ExitedWithCode(255),
        "^\nERROR: run-time error:\nno convergence in 30 svdcmp iterations\n$");
}

TEST(SvdBacksub, ZeroSingularValueDropsItsDirectionButNaNDoesNot) {
    DMatrix u(1, 3, 1, 2), v(1, 2, 1, 2);
    DVector w(1, 2), b(1, 3), x(1, 2);
    u[1][1] = 0.6, u[2][1] = 0.8, u[3][1] = 0, u[1][2] = u[2][2] = 0, u[3][2] = -1;
    v[1][1] = v[2][2] = 0, v[1][2] = v[2][1] = 1;
    b[1] = 3, b[2] = 4, b[3] = 7;
    w[1] = 2.0, w[2] = 0.0;
    svd_backsub(u, w, v, 3, 2, b, x);
    EXPECT_EQ(x[1], 0.0);
    EXPECT_DOUBLE_EQ(x[2], 2.5);
    w[2] = NAN;
    svd_backsub(u, w, v, 3, 2, b, x);
    EXPECT_TRUE(std::isnan(x[1]));
}

TEST(SvdFit, NoDataGivesZeroFitIdentityVAndZeroCovariance) {
    Fit f(0, 6);
    f.run(offset_poly_basis);
    EXPECT_EQ(f.chisq, 0.0);
    for (int i = 1; i <= 6; i++) {
        EXPECT_EQ(f.w[i], 0.0);
        EXPECT_EQ(f.a[i], 0.0);
        for (int j = 1; j <= 6; j++) {
            EXPECT_EQ(f.v[i][j], i == j ? 1.0 : 0.0);
            EXPECT_EQ(f.cov[i][j], 0.0);
        }
    }
}

TEST(SvdFit, PointsOnOneLineGiveMinimumNormSolution) {
    // y = 0: the terms in y vanish and their singular values are 0.
    Fit f(20, 6), g(20, 3);
    for (int i = 1; i <= 20; i++) {
        f.x[i] = g.x[i] = 150.0 * i, f.y[i] = g.y[i] = 0.0, f.sigma[i] = g.sigma[i] = 0.2;
        f.z[i] = g.z[i] = poly(kCoeffs, f.x[i], 0.0) + 0.01 * std::cos(i);
    }
    f.run(offset_poly_basis);
    EXPECT_EQ(std::count(f.w.get() + 1, f.w.get() + 7, 0.0), 3);
    for (int j : {3, 4, 6}) {
        EXPECT_EQ(f.a[j], 0.0);
        for (int k = 1; k <= 6; k++)
            EXPECT_EQ(f.cov[j][k], 0.0);
    }
    // The remaining terms equal the fit in 1, x, x^2 alone.
    g.run([](double x, double, double* p) { p[1] = 1.0, p[2] = x, p[3] = x * x; });
    EXPECT_NEAR(f.a[1], g.a[1], 1e-9);
    EXPECT_NEAR(f.a[2], g.a[2], 1e-12);
    EXPECT_NEAR(f.a[5], g.a[3], 1e-15);
}

// Two groups of four points, one per coefficient; the second group's column
// is scaled by tiny, so the singular values are exactly 2 and 2 * tiny.
double tiny;
void group_basis(double x, double, double* p) {
    p[1] = x < 0.5 ? 1.0 : 0.0;
    p[2] = x < 0.5 ? 0.0 : tiny;
}

TEST(SvdFit, EditsOnlySingularValuesStrictlyBelowRelativeThreshold) {
    for (double t : {1.0e-20, std::nextafter(1.0e-20, 0.0)}) {
        tiny = t;
        Fit f(8, 2);
        for (int i = 1; i <= 8; i++)
            f.x[i] = i > 4, f.y[i] = 0.0, f.z[i] = i > 4 ? 5.0 : 3.0, f.sigma[i] = 1.0;
        f.run(group_basis);
        EXPECT_EQ(f.w[1], 2.0);
        EXPECT_DOUBLE_EQ(f.a[1], 3.0);
        if (t == 1.0e-20) { // exactly at the threshold: kept with its full weight
            EXPECT_EQ(f.w[2], 2.0 * t);
            EXPECT_DOUBLE_EQ(f.a[2], 5.0 / t);
            EXPECT_NEAR(f.chisq, 0.0, 1e-20);
            EXPECT_DOUBLE_EQ(f.cov[2][2], 0.25 / (t * t));
        } else { // edited: that direction contributes nothing
            EXPECT_EQ(f.w[2], 0.0);
            EXPECT_EQ(f.a[2], 0.0);
            EXPECT_DOUBLE_EQ(f.chisq, 4 * 25.0);
            EXPECT_EQ(f.cov[2][2], 0.0);
        }
    }
}

} // namespace
