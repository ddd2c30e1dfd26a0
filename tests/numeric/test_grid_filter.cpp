#include "numeric/grid_filter.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

constexpr int kRows = 20, kColumns = 30;

std::vector<float> plane() {
    std::vector<float> v(kRows * kColumns);
    for (int r = 0; r < kRows; r++)
        for (int c = 0; c < kColumns; c++)
            v[r * kColumns + c] = 2.0f + 0.25f * c - 0.125f * r;
    return v;
}

TEST(GridFilter, FlagsOnlyTheCellThatLeavesItsNeighbours) {
    std::vector<float> v = plane();
    for (std::size_t i = 0; i < v.size(); i++) // small noise, under the spread floor
        v[i] += 0.01f * static_cast<float>((i * 7919) % 5) - 0.02f;
    v[5 * kColumns + 7] += 1.5f;
    v[0] = NAN;
    const std::vector<char> flags = flag_median_outliers(v, kRows, kColumns, 1, 3.0, 0.1);
    for (std::size_t i = 0; i < v.size(); i++)
        EXPECT_EQ(flags[i], i == 5 * kColumns + 7 ? 1 : 0) << i;
}

TEST(GridFilter, FillReproducesAPlaneInsideAHoleAndKeepsKnownCells) {
    const std::vector<float> truth = plane();
    std::vector<float> v = truth;
    for (int r = 4; r < 12; r++)
        for (int c = 6; c < 20; c++)
            v[r * kColumns + c] = NAN;
    ASSERT_TRUE(fill_gaps(v, kRows, kColumns));
    for (std::size_t i = 0; i < v.size(); i++)
        EXPECT_NEAR(v[i], truth[i], 1e-4) << i;
}

TEST(GridFilter, FillOfAGridWithoutValuesFails) {
    std::vector<float> v(12, NAN);
    EXPECT_FALSE(fill_gaps(v, 3, 4));
    EXPECT_TRUE(std::isnan(v[5]));
}

} // namespace
