#include "estimation/corr_peak.h"
#include "numeric/alloc.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

using ::testing::ExitedWithCode;

class CorrPeak : public ::testing::Test {
protected:
    static constexpr int kN = 16;

    void SetUp() override {
        EXPECT_EQ(corr_peak(nullptr, 0, 0, 3, nullptr, nullptr, 1), 0.0);
        fill(0.5f);
    }
    void fill(float v) {
        for (int r = 0; r < kN; r++)
            for (int c = 0; c < kN; c++)
                cc[r][c] = fcomplex{v, 0.0f};
    }
    // z = height - (x - sx)^2 - (y - sy)^2 on the 3 x 3 block around (line, sample),
    // wrapping around the edges; a surface the fitted model represents exactly.
    void quadratic_block(int line, int sample, double height, double sx, double sy) {
        for (int y = -1; y <= 1; y++)
            for (int x = -1; x <= 1; x++)
                cc[(line + y + kN) % kN][(sample + x + kN) % kN].re =
                    float(height - (x - sx) * (x - sx) - (y - sy) * (y - sy));
    }
    double search() { return corr_peak(cc.get(), kN, kN, 3, &xoff, &yoff, 0); }

    Array2D<fcomplex> cc{kN, kN};
    double xoff = 123.0, yoff = 456.0;
};

TEST_F(CorrPeak, ZeroSurfaceGivesZeroResultAndShifts) {
    fill(0.0f);
    EXPECT_EQ(search(), 0.0);
    EXPECT_EQ(xoff, 0.0);
    EXPECT_EQ(yoff, 0.0);
}

// Height 4 - (x - sx)^2 - (y - sy)^2 on a background of 0.5: SNR 8.
TEST_F(CorrPeak, SubSampleVertexWithUpperHalvesAsNegativeShifts) {
    const struct {
        int line, sample;
        double sx, sy, xoff, yoff, tolerance;
    } cases[] = {
        {5, 6, 0.25, -0.25, 6.25, 4.75, 1e-12},
        {3, kN - 1, 0.25, -0.25, -0.75, 2.75, 1e-12},
        {kN / 2, kN / 2, 0.25, -0.25, -kN / 2 + 0.25, -kN / 2 - 0.25, 1e-12},
        // Upper neighbours on the last line, left on the last sample; the
        // block's values are rounded to floats: agreement to single precision.
        {0, 0, -0.3, 0.2, -0.3, 0.2, 1e-6},
    };
    for (const auto& c : cases) {
        fill(0.5f);
        quadratic_block(c.line, c.sample, 4.0, c.sx, c.sy);
        EXPECT_NEAR(search(), 8.0, c.tolerance) << c.line << "," << c.sample;
        EXPECT_NEAR(xoff, c.xoff, c.tolerance) << c.line << "," << c.sample;
        EXPECT_NEAR(yoff, c.yoff, c.tolerance) << c.line << "," << c.sample;
    }
}

TEST_F(CorrPeak, FirstOfEqualMaximaInLineOrderWins) {
    quadratic_block(7, 2, 4.0, 0.0, 0.0);
    quadratic_block(3, 5, 4.0, 0.0, 0.0); // first in line-major, not in column-major order
    search();
    EXPECT_NEAR(xoff, 5.0, 1e-12);
    EXPECT_NEAR(yoff, 3.0, 1e-12);
}

TEST_F(CorrPeak, FewerThanFivePositivePointsLeavesShifts) {
    fill(0.1f);
    for (int y = 4; y <= 6; y++)
        for (int x = 4; x <= 6; x++)
            cc[y][x].re = 0.0f;
    cc[5][5].re = 1.0f;
    cc[4][5].re = cc[5][4].re = cc[5][6].re = 0.5f;
    EXPECT_EQ(search(), 0.0);
    EXPECT_EQ(xoff, 123.0);
    EXPECT_EQ(yoff, 456.0);

    cc[6][5].re = 0.5f; // the fifth point: the fit runs
    EXPECT_GT(search(), 0.0);
    EXPECT_NEAR(xoff, 5.0, 1e-12);
    EXPECT_NEAR(yoff, 5.0, 1e-12);
}

TEST(CorrPeakDeathTest, EvenNeighbourhoodIsRefused) {
    EXPECT_EXIT(corr_peak(nullptr, 16, 16, 4, nullptr, nullptr, 1), ExitedWithCode(255),
                "corr_peak: neighbourhood size must be a positive odd number: 4");
}

TEST(CorrPeakDeathTest, SearchBeforeSetUpOrWithAnotherNeighbourhoodIsFatal) {
    Array2D<fcomplex> cc(8, 8);
    double x = 0, y = 0;
    EXPECT_EXIT(
        {
            release_corr_peak();
            corr_peak(cc.get(), 8, 8, 3, &x, &y, 0);
        },
        ExitedWithCode(255), "corr_peak: peak search requested before the fit set-up");
    corr_peak(nullptr, 8, 8, 3, nullptr, nullptr, 1);
    EXPECT_EXIT(corr_peak(cc.get(), 8, 8, 5, &x, &y, 0), ExitedWithCode(255),
                "neighbourhood size 5 differs from the set-up's 3");
}

} // namespace
