// Reading a row's lines in one go must leave them exactly as reading them one
// by one did, above all where the file ends inside the row.
#include "estimation/slc_lines.h"
#include "params/file_handle.h"

#include <cstdint>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 4;

// A file of whole FCOMPLEX lines and then half a line; sample k holds k + 1.
FileHandle file_ending_mid_line(int wholeLines) {
    FileHandle f(std::tmpfile());
    const int samples = wholeLines * kWidth + kWidth / 2;
    for (int k = 0; k < samples; k++) {
        const fcomplex v{static_cast<float>(k + 1), -static_cast<float>(k + 1)};
        std::fwrite(&v, sizeof v, 1, f.get());
    }
    std::fflush(f.get());
    return f;
}

struct ReadRow {
    std::vector<fcomplex> samples;
    std::string printed;
};

ReadRow read_row(std::FILE* file, SampleFormat format, std::int64_t first, int count) {
    std::vector<unsigned char> buffer(kWidth * 8);
    SlcLineReader reader(file, kWidth, format, buffer.data(), "W;");
    ReadRow row;
    // Stale values that must not survive anywhere in the row.
    row.samples.assign(static_cast<std::size_t>(count) * kWidth, fcomplex{7.0f, 7.0f});
    testing::internal::CaptureStdout();
    reader.seek_line(first);
    reader.read_lines_into(row.samples.data(), count);
    row.printed = testing::internal::GetCapturedStdout();
    return row;
}

TEST(SlcLines, RowEndingInsideTheFileReadsWholeWithoutWarning) {
    const FileHandle f = file_ending_mid_line(5);
    const ReadRow row = read_row(f.get(), SampleFormat::fcomplex, 1, 3);
    EXPECT_EQ(row.printed, "");
    for (int k = 0; k < 3 * kWidth; k++)
        EXPECT_EQ(row.samples[k].re, static_cast<float>(kWidth + k + 1)) << k;
}

// The line the file ends in keeps the samples it has; it and every line
// after it warn once and read as zeros beyond the end.
TEST(SlcLines, RowRunningPastTheEndKeepsThePartialLineAndZerosTheRest) {
    const FileHandle f = file_ending_mid_line(2);
    const ReadRow row = read_row(f.get(), SampleFormat::fcomplex, 1, 3);
    EXPECT_EQ(row.printed, "W;W;");
    for (int k = 0; k < 3 * kWidth; k++) {
        const float expected = k < kWidth + kWidth / 2 ? static_cast<float>(kWidth + k + 1) : 0.0f;
        EXPECT_EQ(row.samples[k].re, expected) << k;
        EXPECT_EQ(row.samples[k].im, -expected) << k;
    }
}

TEST(SlcLines, RowWhollyBeyondTheEndIsZerosWithAWarningPerLine) {
    const FileHandle f = file_ending_mid_line(2);
    const ReadRow row = read_row(f.get(), SampleFormat::fcomplex, 4, 2);
    EXPECT_EQ(row.printed, "W;W;");
    for (const fcomplex& v : row.samples)
        EXPECT_TRUE(v.re == 0.0f && v.im == 0.0f);
}

// SCOMPLEX lines go through the raw buffer one by one: the same rule.
TEST(SlcLines, ScomplexRowRunningPastTheEndIsZeroFilledAlike) {
    FileHandle f(std::tmpfile());
    const std::int16_t samples[] = {1000, -2000, 3000, 4000, 5000, 6000}; // three samples
    std::fwrite(samples, sizeof samples, 1, f.get());
    std::fflush(f.get());
    const ReadRow row = read_row(f.get(), SampleFormat::scomplex, 0, 2);
    EXPECT_EQ(row.printed, "W;W;");
    const float expected[] = {1, -2, 3, 4, 5, 6, 0, 0};
    for (int k = 0; k < 2 * kWidth; k++) {
        EXPECT_EQ(row.samples[k].re, k < 4 ? expected[2 * k] : 0.0f) << k;
        EXPECT_EQ(row.samples[k].im, k < 4 ? expected[2 * k + 1] : 0.0f) << k;
    }
}

} // namespace
