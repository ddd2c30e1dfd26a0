// A row's lines read in one go must come out as reading them one by one did,
// above all where the file ends inside the row.
#include "estimation/slc_lines.h"
#include "params/file_handle.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <vector>

// Two whole lines of 4 samples and half a line, sample k = (k+1, -k-1), in
// either format; a row of three lines from line 1 on: whole, cut by the end,
// wholly beyond. The line the file ends in keeps the samples it has; it and
// the line after it warn once each and read as zeros past the end, over
// stale values.
TEST(SlcLines, RowRunningPastTheEndKeepsThePartialLineAndZerosTheRest) {
    constexpr int kWidth = 4;
    for (SampleFormat format : {SampleFormat::fcomplex, SampleFormat::scomplex}) {
        FileHandle f(std::tmpfile());
        for (int k = 0; k < 2 * kWidth + kWidth / 2; k++) {
            const fcomplex v{static_cast<float>(k + 1), -static_cast<float>(k + 1)};
            const std::int16_t counts[2] = {static_cast<std::int16_t>(1000 * (k + 1)),
                                            static_cast<std::int16_t>(-1000 * (k + 1))};
            if (format == SampleFormat::fcomplex)
                std::fwrite(&v, sizeof v, 1, f.get());
            else
                std::fwrite(counts, sizeof counts, 1, f.get());
        }
        std::fflush(f.get());
        std::vector<unsigned char> buffer(kWidth * 8, 0xee);
        SlcLineReader reader(f.get(), kWidth, format, buffer.data(), "W;");
        std::vector<fcomplex> row(3 * kWidth, fcomplex{7.0f, 7.0f});

        std::string warnings;
        reader.read_lines_at(1, 3, row.data(), warnings);
        EXPECT_EQ(warnings, "W;W;");
        for (int k = 0; k < 3 * kWidth; k++) {
            const float expected =
                k < kWidth + kWidth / 2 ? static_cast<float>(kWidth + k + 1) : 0.0f;
            EXPECT_EQ(row[k].re, expected) << k;
            EXPECT_EQ(row[k].im, -expected) << k;
        }
    }
}
