#include "params/offset_par.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

std::string tmp_path(const char* name) {
    return std::string(FC_TEST_TMP_DIR) + "/" + name;
}

std::string file_text(const std::string& path) {
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

void put_file(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

stOffsetParInfo sample_record() {
    stOffsetParInfo p{};
    std::strcpy(p.title, "not written");
    p.initial_range_offset = -12;
    p.initial_azimuth_offset = 3;
    p.number_of_slc_range_pixels = 12345678;
    p.offset_estimation_starting_range = 64;
    p.offset_estimation_ending_range = 4936;
    p.offset_estimation_range_samples = 32;
    p.offset_estimation_range_spacing = 152;
    p.offset_estimation_starting_azimuth = 64;
    p.offset_estimation_ending_azimuth = 9936;
    p.offset_estimation_azimuth_samples = 64;
    p.offset_estimation_azimuth_spacing = 154;
    p.offset_estimation_window_width = 64;
    p.offset_estimation_window_height = 32;
    p.offset_estimation_threshhold = 7.0;
    const double range[6] = {-12.345678, 1.5e-5, -2.25e-6, 0.0, 1.23456e-9, -9.87654e-10};
    std::memcpy(p.range_offset_polynomial, range, sizeof range);
    p.azimuth_offset_polynomial[0] = 3.5;
    p.interferogram_azimuth_lines = 10000;
    p.interferogram_width = 5000;
    p.first_nonzero_range_pixel = 1;
    p.number_of_nonzero_range_pixels = 4999;
    p.interferogram_range_looks = 1;
    p.interferogram_azimuth_looks = 5;
    p.interferogram_range_pixel_spacing = 2.329562;
    p.interferogram_azimuth_pixel_spacing = 13.9;
    p.resampled_starting_ground_range = 832114.123456;
    p.resampled_number_of_lines = -1;
    return p;
}

void write_to(const std::string& path, const char* mode, const stOffsetParInfo& p) {
    std::FILE* f = std::fopen(path.c_str(), mode);
    ASSERT_NE(f, nullptr);
    write_offset_par(f, &p);
    std::fclose(f);
}

stOffsetParInfo read_from(const std::string& path) {
    stOffsetParInfo p;
    std::memset(&p, 0x7f, sizeof p); // the reader must set every field
    std::FILE* f = std::fopen(path.c_str(), "r");
    EXPECT_NE(f, nullptr);
    if (f) {
        read_offset_par(f, &p);
        std::fclose(f);
    }
    return p;
}

// A stream opened without truncation gets the record, then blanks over
// whatever of the old content lies beyond it.
TEST(WriteOffsetPar, BlanksOldContentOfAnUntruncatedStream) {
    const std::string fresh = tmp_path("fresh.off"), path = tmp_path("overwrite.off");
    write_to(fresh, "w", sample_record());
    const std::string text = file_text(fresh);
    for (std::size_t old_size : {text.size() / 2, text.size() + 1000}) {
        put_file(path, std::string(old_size, 'x'));
        write_to(path, "r+", sample_record());
        EXPECT_EQ(file_text(path),
                  text + std::string(old_size - std::min(old_size, text.size()), ' '));
    }
}

// What was read is written again as the same text: every field keeps the
// value its format printed.
TEST(ReadOffsetPar, RoundTripKeepsEachFormatsPrecision) {
    stOffsetParInfo p = sample_record();
    p.offset_estimation_threshhold = 7.125001;
    p.range_offset_polynomial[0] = 1.23456789;
    p.range_offset_polynomial[1] = 1.23456789e-5;
    p.azimuth_offset_polynomial[5] = -9.87654321e+3;
    p.interferogram_range_pixel_spacing = 2.3295624;
    p.resampled_starting_ground_range = 832114.1234567;
    int distinct = 101; // every number its own value, so no two fields can be confused
    for (int* field : {&p.slc1_starting_range_pixel, &p.offset_estimation_starting_azimuth,
                       &p.offset_estimation_azimuth_samples, &p.offset_estimation_window_width,
                       &p.offset_estimation_window_height, &p.interferogram_range_looks,
                       &p.slc1_starting_azimuth_line, &p.resampled_pixels_per_line})
        *field = distinct++;
    p.resampled_range_pixel_spacing = 0.5;
    p.resampled_azimuth_pixel_spacing = 0.25;
    const std::string path = tmp_path("roundtrip.off"), again = tmp_path("roundtrip2.off");
    write_to(path, "w", p);

    CaptureStdout();
    const stOffsetParInfo r = read_from(path);
    EXPECT_EQ(GetCapturedStdout(), "WARNING: subroutine rd_str, keyword not found: title\n");
    EXPECT_STREQ(r.title, "");
    write_to(again, "w", r);
    EXPECT_EQ(file_text(again), file_text(path));
    EXPECT_EQ(r.offset_estimation_threshhold, 7.13);
    EXPECT_EQ(r.range_offset_polynomial[0], 1.23457);
    EXPECT_EQ(r.range_offset_polynomial[1], 1.2346e-5);
    EXPECT_EQ(r.azimuth_offset_polynomial[5], -9.8765e+3);
    EXPECT_EQ(r.interferogram_range_pixel_spacing, 2.329562);
    EXPECT_EQ(r.resampled_starting_ground_range, 832114.12346);
}

TEST(ReadOffsetPar, AnyOrderExtraLinesShortPolynomialAndLongTitle) {
    const std::string path = tmp_path("shuffled.off");
    put_file(path, "title: " + std::string(200, 'T') +
                       "\n"
                       "some comment line\n"
                       "offset_estimation_window_width: 48\n"
                       "range_offset_polynomial: 1.5 2e-3 -4e-4\n"
                       "initial_azimuth_offset: -7\n");
    CaptureStdout();
    const stOffsetParInfo r = read_from(path);
    const std::string out = GetCapturedStdout();
    EXPECT_EQ(std::string(r.title), std::string(127, 'T'));
    const double* rp = r.range_offset_polynomial;
    EXPECT_EQ(std::vector<double>(rp, rp + 6), std::vector<double>({1.5, 2e-3, -4e-4, 0, 0, 0}));
    // Missing entries fall back to zero.
    EXPECT_EQ(std::make_tuple(r.offset_estimation_window_width, r.initial_azimuth_offset,
                              r.initial_range_offset, r.resampled_pixels_per_line,
                              r.offset_estimation_threshhold),
              std::make_tuple(48, -7, 0, 0, 0.0));
    EXPECT_NE(out.find("WARNING rd_vec: insufficient number of values: 6    key: "
                       "range_offset_polynomial\n"),
              std::string::npos);
    EXPECT_NE(out.find("WARNING: subroutine rd_int, keyword not found: "
                       "number_of_nonzero_range_pixels:\n"),
              std::string::npos);
}

TEST(EvalOffsetPoly, TermsAndSummationOrder) {
    const double c[6] = {1.5, 2.25, -3.5, 7.0, 0.125, -0.0625};
    EXPECT_EQ(eval_offset_poly(c, 2.0, -4.0), 1.5 + 4.5 + 14.0 - 56.0 + 0.5 - 1.0);

    // Left to right the constant is absorbed by 1e16 before the y term
    // cancels it; other groupings would give 1.
    const double cancel[6] = {1.0, 1e16, -1e16, 0.0, 0.0, 0.0};
    EXPECT_EQ(eval_offset_poly(cancel, 1.0, 1.0), 0.0);

    // The products are formed as (x*y)*c3, (x*x)*c4 and (y*y)*c5; the values
    // are chosen so that c*x*y, c*x*x and c*y*y round differently.
    const double x = 0.3, y = 0.7;
    const double c3[6] = {0.0, 0.0, 0.0, 3.0, 0.0, 0.0};
    ASSERT_NE((x * y) * 3.0, (3.0 * x) * y);
    EXPECT_EQ(eval_offset_poly(c3, x, y), (x * y) * 3.0);
    const double c4[6] = {0.0, 0.0, 0.0, 0.0, 3.0, 0.0};
    ASSERT_NE((x * x) * 3.0, (3.0 * x) * x);
    EXPECT_EQ(eval_offset_poly(c4, x, 0.0), (x * x) * 3.0);
    const double c5[6] = {0.0, 0.0, 0.0, 0.0, 0.0, 3.0};
    EXPECT_EQ(eval_offset_poly(c5, 0.0, x), (x * x) * 3.0);
}

} // namespace
