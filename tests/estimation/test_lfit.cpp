#include "estimation/lfit.h"
#include "numeric/alloc.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
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

// The nine points of the 3 x 3 grid over -1, 0, 1 with unit deviations,
// unit-offset vectors; z follows a = (1, 0.5, -0.25, 2, -1) exactly.
struct GridData {
    DVector x{1, 9}, y{1, 9}, z{1, 9}, sig{1, 9};
    GridData() {
        for (int i = 1; i <= 9; i++) {
            x[i] = (i - 1) % 3 - 1;
            y[i] = (i - 1) / 3 - 1;
            z[i] = 1 + 0.5 * x[i] - 0.25 * y[i] + 2 * x[i] * x[i] - y[i] * y[i];
            sig[i] = 1.0;
        }
    }
};

// Exact data on the grid over 0, 1, 2, where no symmetry hides a cross term
// of the normal matrix: every coefficient comes back.
TEST(Lfit, RecoversExactCoefficientsOnAnOffCentreGrid) {
    GridData d;
    const double want[6] = {0, 1, 0.5, -0.25, 2, -1};
    for (int i = 1; i <= 9; i++) {
        d.x[i] += 1;
        d.y[i] += 1;
        d.z[i] = want[1] + want[2] * d.x[i] + want[3] * d.y[i] + want[4] * d.x[i] * d.x[i] +
                 want[5] * d.y[i] * d.y[i];
    }
    double a[6] = {}, chisq = -1;
    int ia[6] = {0, 1, 1, 1, 1, 1};
    DMatrix covar(1, 5, 1, 5);
    lfit(d.x, d.y, d.z, d.sig, 9, a, ia, 5, covar, &chisq, quadratic_basis);
    for (int k = 1; k <= 5; k++)
        EXPECT_NEAR(a[k], want[k], 1e-12) << k;
    EXPECT_NEAR(chisq, 0.0, 1e-20);

    // The constant and x^2 held at their true values: the others still come
    // back, and the held parameters' lines and columns of the covariance,
    // diagonal included, are 0.
    ia[1] = ia[4] = 0;
    a[1] = want[1];
    a[4] = want[4];
    lfit(d.x, d.y, d.z, d.sig, 9, a, ia, 5, covar, &chisq, quadratic_basis);
    for (int k = 1; k <= 5; k++) {
        EXPECT_NEAR(a[k], want[k], 1e-12) << k;
        for (int held : {1, 4}) {
            EXPECT_EQ(covar[held][k], 0.0) << held << " " << k;
            EXPECT_EQ(covar[k][held], 0.0) << held << " " << k;
        }
    }
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

// Death tests see only standard error; the child sends standard output to a
// file the parent reads afterwards.
void fit_with_nothing_free(const char* stdout_path) {
    if (!std::freopen(stdout_path, "w", stdout))
        return;
    GridData d;
    double a[6] = {0, 1, 2, 3, 4, 5}, chisq;
    int ia[6] = {0, 0, 0, 0, 0, 0};
    DMatrix covar(1, 5, 1, 5);
    lfit(d.x, d.y, d.z, d.sig, 9, a, ia, 5, covar, &chisq, quadratic_basis);
}

TEST(LfitDeathTest, AllParametersHeldIsARunTimeError) {
    const std::string path = std::string(FC_TEST_TMP_DIR) + "/lfit_no_parameters.out";
    std::remove(path.c_str());
    EXPECT_EXIT(fit_with_nothing_free(path.c_str()), ExitedWithCode(255),
                "^\nERROR: run-time error:\n$");
    std::ostringstream text;
    text << std::ifstream(path).rdbuf();
    EXPECT_EQ(text.str(), "ERROR lfit: no parameters to be fitted\n");
}

} // namespace
