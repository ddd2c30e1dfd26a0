// The offset parameter file: its reader's edge cases and the writer's file
// handling. The text of normal records is pinned by the golden tests.
#include "params/offset_par.h"
#include "tests/support/scratch.h"

#include <sys/wait.h>
#include <tuple>
#include <unistd.h>

namespace {

using namespace scratch;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

stOffsetParInfo sample_record() {
    stOffsetParInfo p = coarse_offsets(-12, 3);
    std::strcpy(p.title, "not written");
    p.number_of_slc_range_pixels = 12345678;
    p.offset_estimation_ending_azimuth = 9936;
    const double range[6] = {-12.345678, 1.5e-5, -2.25e-6, 0.0, 1.23456e-9, -9.87654e-10};
    std::memcpy(p.range_offset_polynomial, range, sizeof range);
    p.interferogram_azimuth_pixel_spacing = 13.9;
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
    const std::string dir = fresh_test_dir(), fresh = dir + "/fresh.off", path = dir + "/o.off";
    write_to(fresh, "w", sample_record());
    const std::string text = read_bytes(fresh);
    for (std::size_t old_size : {text.size() / 2, text.size() + 1000}) {
        write_bytes(path, std::string(old_size, 'x'));
        write_to(path, "r+", sample_record());
        EXPECT_EQ(read_bytes(path),
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
    const std::string dir = fresh_test_dir(), path = dir + "/a.off", again = dir + "/b.off";
    write_to(path, "w", p);

    CaptureStdout();
    const stOffsetParInfo r = read_from(path);
    EXPECT_EQ(GetCapturedStdout(), "WARNING: subroutine rd_str, keyword not found: title\n");
    EXPECT_STREQ(r.title, "");
    write_to(again, "w", r);
    EXPECT_EQ(read_bytes(again), read_bytes(path));
    EXPECT_EQ(r.range_offset_polynomial[1], 1.2346e-5);
}

TEST(ReadOffsetPar, AnyOrderExtraLinesShortPolynomialAndLongTitle) {
    const std::string path = fresh_test_dir() + "/shuffled.off";
    write_bytes(path, "title: " + std::string(200, 'T') +
                          "\n"
                          "some comment line\n"
                          "offset_estimation_window_width: 48\n"
                          "range_offset_polynomial: 1.5 2e-3 -4e-4\n"
                          "initial_azimuth_offset: -7\n");
    CaptureStdout(); // warnings, as the keyword reader's tests show
    const stOffsetParInfo r = read_from(path);
    GetCapturedStdout();
    EXPECT_EQ(std::string(r.title), std::string(127, 'T'));
    const double* rp = r.range_offset_polynomial;
    EXPECT_EQ(std::vector<double>(rp, rp + 6), std::vector<double>({1.5, 2e-3, -4e-4, 0, 0, 0}));
    // Missing entries fall back to zero.
    EXPECT_EQ(std::make_tuple(r.offset_estimation_window_width, r.initial_azimuth_offset,
                              r.initial_range_offset, r.resampled_pixels_per_line,
                              r.offset_estimation_threshhold),
              std::make_tuple(48, -7, 0, 0, 0.0));
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

// The replacement keeps the mode of the file it replaces, goes through a
// symbolic link to its target, and clears "<target>.tmp.<pid>" files left
// by writers that are gone, never those of a live process.
TEST(WriteOffsetParFile, KeepsModeFollowsLinksAndClearsOnlyDeadWritersTemporaries) {
    const std::string dir = fresh_test_dir(), target = dir + "/pair.off", link = dir + "/l.off";
    write_off(target, sample_record());
    const auto mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    fs::permissions(target, mode);
    fs::create_symlink(target, link);
    const pid_t gone = ::fork();
    if (gone == 0)
        ::_exit(0);
    ASSERT_EQ(::waitpid(gone, nullptr, 0), gone);
    const pid_t live = ::fork(); // a writer still at work, which must not be disturbed
    if (live == 0) {
        ::pause();
        ::_exit(0);
    }
    const long pids[] = {gone, live, ::getppid()};
    for (long pid : pids)
        write_bytes(target + ".tmp." + std::to_string(pid), "partial");
    write_off(link, coarse_offsets(5, -4));
    EXPECT_EQ(::waitpid(live, nullptr, WNOHANG), 0) << "the live writer was signalled";
    ::kill(live, SIGKILL);
    ::waitpid(live, nullptr, 0);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(read_off(target).initial_range_offset, 5);
    EXPECT_EQ(fs::status(target).permissions(), mode);
    for (long pid : pids)
        EXPECT_EQ(fs::exists(target + ".tmp." + std::to_string(pid)), pid != gone) << pid;
}

} // namespace
