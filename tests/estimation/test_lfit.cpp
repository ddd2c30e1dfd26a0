#include "estimation/lfit.h"
#include "numeric/alloc.h"

#include <cmath>
#include <cstdio>
#include <gtest/gtest.h>
#include <random>
#include <string>

namespace {

using ::testing::ExitedWithCode;

// Basis 1, x, y, x^2, y^2: the quadratic surface without the cross term.
void quadratic_basis(double x, double y, double* afunc) {
    afunc[1] = 1.0;
    afunc[2] = x;
    afunc[3] = y;
    afunc[4] = x * x;
    afunc[5] = y * y;
}

// The nine points of the 3 x 3 grid over -1, 0, 1 with unit deviations:
// z = 1 at the centre and 0.5 elsewhere, unit-offset vectors.
struct GridData {
    DVector x{1, 9}, y{1, 9}, z{1, 9}, sig{1, 9};
    GridData() {
        int i = 1;
        for (int r = -1; r <= 1; r++)
            for (int c = -1; c <= 1; c++, i++) {
                x[i] = c;
                y[i] = r;
                z[i] = (r == 0 && c == 0) ? 1.0 : 0.5;
                sig[i] = 1.0;
            }
    }
};

std::string read_file(const std::string& path) {
    std::string text;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        char buf[256];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
            text.append(buf, n);
        std::fclose(f);
    }
    return text;
}

TEST(Gaussj, DiagonalInverseAndSolution) {
    DMatrix a(1, 2, 1, 2), b(1, 2, 1, 1);
    a[1][1] = 2, a[1][2] = 0, a[2][1] = 0, a[2][2] = 4;
    b[1][1] = 2, b[2][1] = 8;
    gaussj(a, 2, b, 1);
    EXPECT_EQ(a[1][1], 0.5);
    EXPECT_EQ(a[1][2], 0.0);
    EXPECT_EQ(a[2][1], 0.0);
    EXPECT_EQ(a[2][2], 0.25);
    EXPECT_EQ(b[1][1], 1.0);
    EXPECT_EQ(b[2][1], 2.0);
}

// Solves the n x n system whose matrix has every element equal to value.
void solve_constant_matrix(int n, double value) {
    DMatrix a(1, n, 1, n), b(1, n, 1, 1);
    for (int i = 1; i <= n; i++) {
        for (int j = 1; j <= n; j++)
            a[i][j] = value;
        b[i][1] = 1.0;
    }
    gaussj(a, n, b, 1);
}

TEST(GaussjDeathTest, EqualRowsHitAnExactZeroPivot) {
    EXPECT_EXIT(solve_constant_matrix(2, 1.0), ExitedWithCode(255),
                "^\nERROR: gaussj: singular matrix 2\n$");
}

// A matrix of NaNs leaves the pivot search without a candidate, so a column
// is used twice: the only way to reach the first singular-matrix message.
TEST(GaussjDeathTest, ColumnUsedTwiceIsSingular) {
    EXPECT_EXIT(solve_constant_matrix(3, std::nan("")), ExitedWithCode(255),
                "^\nERROR: gaussj: singular matrix 1\n$");
}

// Magnitude 4 ties at (1,1) and (1,2); the rule takes the later one, (1,2),
// and with this pivot order every operation is exact, so the integer inverse
// (determinant -1) comes back exactly. Taking (1,1) first would round.
TEST(Gaussj, LastOfEqualPivotCandidatesIsTaken) {
    const double m[3][3] = {{4, 4, 3}, {3, 2, 1}, {1, 1, 1}};
    const double inverse[3][3] = {{-1, 1, 2}, {2, -1, -5}, {-1, 0, 4}};
    DMatrix a(1, 3, 1, 3), b(1, 3, 1, 1);
    for (int i = 1; i <= 3; i++) {
        for (int j = 1; j <= 3; j++)
            a[i][j] = m[i - 1][j - 1];
        b[i][1] = 1.0;
    }
    gaussj(a, 3, b, 1);
    for (int i = 1; i <= 3; i++) {
        for (int j = 1; j <= 3; j++)
            EXPECT_EQ(a[i][j], inverse[i - 1][j - 1]) << "(" << i << "," << j << ")";
        EXPECT_EQ(b[i][1], inverse[i - 1][0] + inverse[i - 1][1] + inverse[i - 1][2]);
    }
}

TEST(Gaussj, RandomWellConditionedSystemWithTwoRightHandSides) {
    const int n = 7;
    std::mt19937 gen(2024);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    DMatrix a(1, n, 1, n), a0(1, n, 1, n), b(1, n, 1, 2), x(1, n, 1, 2);
    for (int i = 1; i <= n; i++) {
        for (int j = 1; j <= n; j++)
            a[i][j] = a0[i][j] = dist(gen) + (i == j ? n : 0); // diagonally dominant
        x[i][1] = dist(gen);
        x[i][2] = i;
    }
    for (int i = 1; i <= n; i++)
        for (int c = 1; c <= 2; c++) {
            b[i][c] = 0;
            for (int j = 1; j <= n; j++)
                b[i][c] += a0[i][j] * x[j][c];
        }
    gaussj(a, n, b, 2);
    for (int i = 1; i <= n; i++) {
        EXPECT_NEAR(b[i][1], x[i][1], 1e-14);
        EXPECT_NEAR(b[i][2], x[i][2], 1e-13);
        for (int j = 1; j <= n; j++) {
            double product = 0;
            for (int k = 1; k <= n; k++)
                product += a0[i][k] * a[k][j];
            EXPECT_NEAR(product, i == j ? 1.0 : 0.0, 1e-14) << "(" << i << "," << j << ")";
        }
    }
}

TEST(CovarExpand, PacksFittedParametersIntoTheirPlaces) {
    // Fitted parameters 2 and 4 of 4: packed (p, q) go to lines/columns 2 and
    // 4; everything else, whatever it held, becomes zero.
    DMatrix c(1, 4, 1, 4);
    for (int i = 1; i <= 4; i++)
        for (int j = 1; j <= 4; j++)
            c[i][j] = 100 + 10 * i + j;
    c[1][1] = 11, c[1][2] = 12, c[2][1] = 21, c[2][2] = 22;
    int ia[5] = {0, 0, 1, 0, 1};
    covar_expand(c, 4, ia, 2);
    const double expected[4][4] = {{0, 0, 0, 0}, {0, 11, 0, 12}, {0, 0, 0, 0}, {0, 21, 0, 22}};
    for (int i = 1; i <= 4; i++)
        for (int j = 1; j <= 4; j++)
            EXPECT_EQ(c[i][j], expected[i - 1][j - 1]) << "(" << i << "," << j << ")";

    // With every parameter fitted nothing moves.
    for (int i = 1; i <= 4; i++)
        for (int j = 1; j <= 4; j++)
            c[i][j] = 10 * i + j;
    int all[5] = {0, 1, 1, 1, 1};
    covar_expand(c, 4, all, 4);
    for (int i = 1; i <= 4; i++)
        for (int j = 1; j <= 4; j++)
            EXPECT_EQ(c[i][j], 10 * i + j);
}

TEST(Lfit, ThreeByThreeGridGivesTheAnalyticFit) {
    GridData d;
    double a[6] = {0, 9, 9, 9, 9, 9};
    int ia[6] = {0, 1, 1, 1, 1, 1};
    DMatrix covar(1, 5, 1, 5);
    double chisq = -1;
    lfit(d.x, d.y, d.z, d.sig, 9, a, ia, 5, covar, &chisq, quadratic_basis);
    const double expected[6] = {0, 7.0 / 9, 0, 0, -1.0 / 6, -1.0 / 6};
    for (int j = 1; j <= 5; j++)
        EXPECT_NEAR(a[j], expected[j], 1e-14) << "a" << j;
    // Residuals: the centre is 1 - 7/9, the edges 0.5 - (7/9 - 1/6), the corners
    // 0.5 - (7/9 - 1/3); chisq is their sum of squares.
    const double rc = 2.0 / 9, re = -1.0 / 9, rk = 1.0 / 18;
    EXPECT_NEAR(chisq, rc * rc + 4 * re * re + 4 * rk * rk, 1e-14);
    // Covariance is the inverse normal matrix; symmetric, and for a1 equal to
    // 5/9 (columns 1, x^2, y^2 of the grid).
    EXPECT_NEAR(covar[1][1], 5.0 / 9, 1e-14);
    EXPECT_NEAR(covar[2][2], 1.0 / 6, 1e-14);
    for (int i = 1; i <= 5; i++)
        for (int j = 1; j <= 5; j++)
            EXPECT_EQ(covar[i][j], covar[j][i]);
}

TEST(Lfit, HeldParameterKeepsItsValueAndGetsZeroCovariance) {
    // z follows a = (1, 0.5, -0.25, 2, -1) exactly; a2 is held at 0.75. On
    // the symmetric grid x is orthogonal to the other basis functions, so the
    // four fitted values are exact and the residual is 0.25 x.
    GridData d;
    const double truth[6] = {0, 1, 0.5, -0.25, 2, -1};
    for (int i = 1; i <= 9; i++) {
        double f[6];
        quadratic_basis(d.x[i], d.y[i], f);
        d.z[i] = 0;
        for (int j = 1; j <= 5; j++)
            d.z[i] += truth[j] * f[j];
    }
    double a[6] = {0, 0, 0.75, 0, 0, 0};
    int ia[6] = {0, 1, 0, 1, 1, 1};
    DMatrix covar(1, 5, 1, 5);
    double chisq;
    lfit(d.x, d.y, d.z, d.sig, 9, a, ia, 5, covar, &chisq, quadratic_basis);
    EXPECT_EQ(a[2], 0.75);
    for (int j : {1, 3, 4, 5})
        EXPECT_NEAR(a[j], truth[j], 1e-14) << "a" << j;
    EXPECT_NEAR(chisq, 0.0625 * 6, 1e-14);
    for (int j = 1; j <= 5; j++) {
        EXPECT_EQ(covar[2][j], 0.0);
        EXPECT_EQ(covar[j][2], 0.0);
    }
    // The fitted block is the inverse normal matrix of 1, y, x^2, y^2.
    EXPECT_NEAR(covar[1][1], 5.0 / 9, 1e-14);
    EXPECT_NEAR(covar[1][4], -1.0 / 3, 1e-14);
    EXPECT_NEAR(covar[3][3], 1.0 / 6, 1e-14);
    EXPECT_NEAR(covar[4][4], 0.5, 1e-14);
    EXPECT_NEAR(covar[4][5], 0.0, 1e-14);
}

// Death tests see only standard error; the child sends standard output to a
// file the parent reads afterwards.
void fit_with_nothing_free(const char* stdout_path) {
    if (!std::freopen(stdout_path, "w", stdout))
        return;
    GridData d;
    double a[6] = {0, 1, 2, 3, 4, 5};
    int ia[6] = {0, 0, 0, 0, 0, 0};
    DMatrix covar(1, 5, 1, 5);
    double chisq;
    lfit(d.x, d.y, d.z, d.sig, 9, a, ia, 5, covar, &chisq, quadratic_basis);
}

TEST(LfitDeathTest, AllParametersHeldIsARunTimeError) {
    const std::string path = std::string(FC_TEST_TMP_DIR) + "/lfit_no_parameters.out";
    std::remove(path.c_str());
    EXPECT_EXIT(fit_with_nothing_free(path.c_str()), ExitedWithCode(255),
                "^\nERROR: run-time error:\n$");
    EXPECT_EQ(read_file(path), "ERROR lfit: no parameters to be fitted\n");
}

} // namespace
