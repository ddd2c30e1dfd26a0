#include "numeric/alloc.h"

#include <gtest/gtest.h>

namespace {

using ::testing::ExitedWithCode;

TEST(Calloc1dDeathTest, ZeroCountThenZeroSizeThenFailureAreFatal) {
    EXPECT_EXIT(calloc_1d(0, 0), ExitedWithCode(255),
                "^\nERROR: calloc_1d: number of elements <= 0: 0\n$");
    EXPECT_EXIT(calloc_1d(4, 0), ExitedWithCode(255),
                "^\nERROR: calloc_1d: element size <= 0: 0\n$");
    // A negative 32-bit count arrives as a huge unsigned size.
    EXPECT_EXIT(calloc_1d(static_cast<size_t>(-8), 8), ExitedWithCode(255),
                "^\nERROR calloc_1d: memory allocation error for data values\n\n$");
}

TEST(Calloc2dDeathTest, ChecksColumnsThenLinesThenSize) {
    EXPECT_EXIT(calloc_2d<double>(0, 0, 0), ExitedWithCode(255),
                "^\nERROR: calloc_2d: number of columns <= 0: 0\n$");
    EXPECT_EXIT(calloc_2d<double>(3, 0, 0), ExitedWithCode(255),
                "^\nERROR: calloc_2d: number of lines <= 0: 0\n$");
    EXPECT_EXIT(calloc_2d<double>(3, 3, 0), ExitedWithCode(255),
                "^\nERROR: calloc_2d: element size <= 0: 0\n$");
    EXPECT_EXIT(calloc_2d<double>(static_cast<size_t>(-1), 4), ExitedWithCode(255),
                "^\nERROR calloc_2d: memory allocation error for data values\n\n$");
}

TEST(UnitOffsetArraysDeathTest, EmptyMatrixAndHighLowerBoundsAreRefused) {
    EXPECT_EXIT(dmatrix(1, 0, 1, 6), ExitedWithCode(255), "run-time error");
    EXPECT_EXIT(dmatrix(2, 6, 1, 6), ExitedWithCode(255), "run-time error");
    EXPECT_EXIT(dvector(2, 6), ExitedWithCode(255), "run-time error");
}

} // namespace
