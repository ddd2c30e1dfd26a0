#include "numeric/alloc.h"
#include "numeric/fatal.h"

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

namespace {

using ::testing::ExitedWithCode;

// Death tests see only standard error; run_time_error also writes standard
// output, so the child sends it to a file the parent reads afterwards.
std::string stdout_of_death(const char* path) {
    std::FILE* f = std::fopen(path, "rb");
    if (!f)
        return {};
    std::string text;
    char buf[256];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        text.append(buf, n);
    std::fclose(f);
    return text;
}

TEST(Calloc1dDeathTest, ZeroCountAndSizeAreFatalInOrder) {
    EXPECT_EXIT(calloc_1d(0, 0), ExitedWithCode(255),
                "^\nERROR: calloc_1d: number of elements <= 0: 0\n$");
    EXPECT_EXIT(calloc_1d(4, 0), ExitedWithCode(255),
                "^\nERROR: calloc_1d: element size <= 0: 0\n$");
}

TEST(Calloc1dDeathTest, ImpossibleSizeEndsWithAllocationMessage) {
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

TEST(Calloc2d, LinesAreContiguousAndZero) {
    double** a = calloc_2d<double>(7, 7);
    const char* base = reinterpret_cast<const char*>(a[0]);
    for (int i = 0; i < 7; i++) {
        EXPECT_EQ(reinterpret_cast<const char*>(a[i]) - base, 56 * i);
        for (int j = 0; j < 7; j++)
            EXPECT_EQ(a[i][j], 0.0);
    }
    free_2d(a);
}

TEST(UnitOffsetVectors, IndexRangesAreUsable) {
    double* v = dvector(1, 6);
    for (int i = 1; i <= 6; i++)
        v[i] = i;
    EXPECT_EQ(v[6], 6.0);
    free_dvector(v, 1, 6);

    int* iv = ivector(0, 9);
    for (int i = 0; i <= 9; i++)
        iv[i] = i;
    EXPECT_EQ(iv[9], 9);
    free_ivector(iv, 0, 9);

    double* empty = dvector(1, 0); // one spare element, nothing indexable
    EXPECT_NE(empty, nullptr);
    free_dvector(empty, 1, 0);
}

TEST(UnitOffsetVectors, MatrixRowsLieInOneBlock) {
    double** m = dmatrix(1, 6, 1, 6);
    for (int i = 2; i <= 6; i++)
        EXPECT_EQ(m[i] - m[i - 1], 6);
    for (int i = 1; i <= 6; i++)
        for (int j = 1; j <= 6; j++)
            m[i][j] = i * 10 + j; // every index in range is writable (ASan checks)
    EXPECT_EQ(m[6][6], 66.0);
    free_dmatrix(m, 1, 6, 1, 6);

    DMatrix zero_based(0, 2, 0, 2);
    double** z = zero_based;
    z[2][2] = 1.0;
    EXPECT_EQ(z[2] - z[0], 6);
}

TEST(RunTimeErrorDeathTest, HeadingOnStderrMessageOnStdout) {
    const std::string out = std::string(FC_TEST_TMP_DIR) + "/rte_stdout.txt";
    std::remove(out.c_str());
    EXPECT_EXIT(
        {
            std::freopen(out.c_str(), "w", stdout);
            run_time_error("allocation failure 2 in dmatrix()");
        },
        ExitedWithCode(255), "^\nERROR: run-time error:\n$");
    EXPECT_EQ(stdout_of_death(out.c_str()), "allocation failure 2 in dmatrix()\n");
}

TEST(UnitOffsetVectorsDeathTest, EmptyMatrixAndHighLowerBoundsAreRefused) {
    EXPECT_EXIT(dmatrix(1, 0, 1, 6), ExitedWithCode(255), "run-time error");
    EXPECT_EXIT(dmatrix(2, 6, 1, 6), ExitedWithCode(255), "run-time error");
    EXPECT_EXIT(dvector(2, 6), ExitedWithCode(255), "run-time error");
}

} // namespace
