// A row's lines read in one go must come out as reading them one by one did,
// above all where the file ends inside the row.
#include "estimation/slc_lines.h"
#include "params/file_handle.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

// Two whole FCOMPLEX lines of 4 samples and half a line, sample k = (k+1, -k-1);
// a row of three lines from line 1 on: whole, cut by the end, wholly beyond.
// The line the file ends in keeps the samples it has; it and the line after
// it warn once each and read as zeros past the end, over stale values.
TEST(SlcLines, RowRunningPastTheEndKeepsThePartialLineAndZerosTheRest) {
    constexpr int kWidth = 4;
    FileHandle f(std::tmpfile());
    for (int k = 0; k < 2 * kWidth + kWidth / 2; k++) {
        const fcomplex v{static_cast<float>(k + 1), -static_cast<float>(k + 1)};
        std::fwrite(&v, sizeof v, 1, f.get());
    }
    std::fflush(f.get());
    std::vector<unsigned char> buffer(kWidth * 8);
    SlcLineReader reader(f.get(), kWidth, SampleFormat::fcomplex, buffer.data(), "W;");
    std::vector<fcomplex> row(3 * kWidth, fcomplex{7.0f, 7.0f});

    testing::internal::CaptureStdout();
    reader.seek_line(1);
    reader.read_lines_into(row.data(), 3);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "W;W;");
    for (int k = 0; k < 3 * kWidth; k++) {
        const float expected = k < kWidth + kWidth / 2 ? static_cast<float>(kWidth + k + 1) : 0.0f;
        EXPECT_EQ(row[k].re, expected) << k;
        EXPECT_EQ(row[k].im, -expected) << k;
    }
}
