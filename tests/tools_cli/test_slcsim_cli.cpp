// The slcsim tool run as a user runs it: exit status, standard output and
// error, and the files it writes.
#include "tests/support/run_process.h"
#include "tools/slcsim/slcsim.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

ProcessRun slcsim(std::vector<std::string> args, const std::vector<std::string>& more = {}) {
    args.insert(args.end(), more.begin(), more.end());
    return run_process(SLCSIM_TOOL, args);
}

// A fresh scratch directory named after the running test (CTest runs the
// tests of one binary in parallel).
std::string test_dir() {
    const std::string dir = std::string(FC_TEST_TMP_DIR) + "/" +
                            testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

const std::vector<std::string> kSmallPair = {"--width",        "96",
                                             "--lines",        "80",
                                             "--range-poly",   "2.6,1e-3,0,0,0,2e-6",
                                             "--azimuth-poly", "-1.5,0,-2e-3",
                                             "--coherence",    "0.8",
                                             "--occupancy",    "0.6",
                                             "--seed",         "11"};

TEST(SlcsimCli, BadUsageExitsTwoWithOneLine) {
    const std::string dir = test_dir();
    const struct {
        std::vector<std::string> args;
        const char* part;
    } cases[] = {
        {{"--bogus", "--help"}, "unknown option --bogus"}, // a bad option wins over --help
        {{"stray"}, "unexpected argument 'stray'"},
        {{"--out-dir", dir, "--width"}, "option --width needs a value"},
        {{"--out-dir", dir, "--width", "0"}, "option --width: '0' is not a positive whole number"},
        {{"--out-dir", dir, "--lines", "12x"}, "option --lines: '12x'"},
        {{"--out-dir", dir, "--coherence", "0"},
         "option --coherence: '0' is not a number in (0, 1]"},
        {{"--out-dir", dir, "--occupancy=1.5"}, "option --occupancy: '1.5'"},
        {{"--out-dir", dir, "--format", "CFLOAT"}, "is not FCOMPLEX or SCOMPLEX"},
        {{"--out-dir", dir, "--range-poly", "1,2,3,4,5,6,7"}, "option --range-poly"},
        {{"--out-dir", dir, "--azimuth-poly", "1,,2"}, "option --azimuth-poly"},
        {{"--out-dir", dir, "--seed", "-1"}, "option --seed: '-1'"},
        {{"--help=yes"}, "option --help takes no value"},
        {{"--master", "m.slc", "--off", "p.off"}, "missing --slave, --truth (or give --out-dir)"},
        {{"--out-dir", dir, "--fitted", "f.off"}, "option --fitted needs --compare"},
        {{"--compare", "--truth", "t", "--fitted", "f", "--width", "8"},
         "--compare needs option --lines"},
        {{"--compare", "--truth", "t", "--fitted", "f", "--width", "8", "--lines", "8", "--seed",
          "3"},
         "option --seed does not apply to --compare"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.part);
        expect_one_line_error(slcsim(c.args), "slcsim", 2, c.part);
    }
    EXPECT_FALSE(fs::exists(dir + "/master.slc"));

    const ProcessRun usage = slcsim({"--width", "5", "--help"});
    EXPECT_EQ(usage.status, 0);
    EXPECT_EQ(usage.out.rfind("Usage: slcsim", 0), 0u);
    const ProcessRun version = slcsim({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("slcsim ") + SLCSIM_VERSION + "\n");
}

TEST(SlcsimCli, IoFailuresExitOne) {
    const std::string dir = test_dir();
    std::ofstream(dir + "/plain") << "x";
    expect_one_line_error(slcsim({"--out-dir", dir + "/plain/sub"}), "slcsim", 1,
                          "cannot create directory " + dir + "/plain/sub");
    expect_one_line_error(slcsim(kSmallPair, {"--out-dir", dir, "--slave", dir + "/no/s.slc"}),
                          "slcsim", 1, "cannot write " + dir + "/no/s.slc");
    expect_one_line_error(slcsim({"--compare", "--truth", dir + "/none.off", "--fitted",
                                  dir + "/plain", "--width", "8", "--lines", "8"}),
                          "slcsim", 1, "cannot open " + dir + "/none.off");
}

// Every option reaches the simulator: the library, called with the same
// options, writes the same bytes into every file (so the tool is also as
// deterministic as the library); coarse offsets default to the rounded
// constant terms.
TEST(SlcsimCli, WritesWhatTheLibraryWritesForTheSameOptions) {
    const std::string dir = test_dir();
    SlcSimOptions o;
    o.width = 96;
    o.lines = 80;
    const double range[6] = {2.6, 1e-3, 0, 0, 0, 2e-6}, azimuth[6] = {-1.5, 0, -2e-3};
    std::copy(range, range + 6, o.range_offset_polynomial);
    std::copy(azimuth, azimuth + 6, o.azimuth_offset_polynomial);
    o.coherence = 0.8;
    o.occupancy = 0.6;
    o.seed = 11;
    o.initial_range_offset = 3;
    o.initial_azimuth_offset = -2;
    for (const char* format : {"FCOMPLEX", "scomplex"}) {
        const std::string tool = dir + "/" + format, lib = tool + "_lib";
        fs::create_directories(lib);
        o.format = format[0] == 'F' ? SlcFormat::fcomplex : SlcFormat::scomplex;
        o.master_path = lib + "/master.slc";
        o.slave_path = lib + "/slave.slc";
        o.offset_par_path = lib + "/pair.off";
        o.truth_path = lib + "/truth.off";
        std::string error;
        ASSERT_TRUE(simulate_slc_pair(o, &error)) << error;
        const ProcessRun run = slcsim(kSmallPair, {"--format", format, "--out-dir", tool});
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");
        for (const char* file :
             {"master.slc", "slave.slc", "master.xml", "slave.xml", "pair.off", "truth.off"}) {
            const std::string expected = read_file(lib + "/" + file);
            EXPECT_FALSE(expected.empty()) << file;
            EXPECT_EQ(read_file(tool + "/" + file), expected) << format << " " << file;
        }
    }
    // Another seed, another field; explicit paths override --out-dir's and
    // explicit coarse offsets win.
    ASSERT_EQ(
        slcsim(kSmallPair, {"--seed", "12", "--out-dir", dir + "/c", "--off", dir + "/coarse.par",
                            "--coarse-range", "-7", "--coarse-azimuth=4"})
            .status,
        0);
    EXPECT_NE(read_file(dir + "/c/master.slc"), read_file(dir + "/FCOMPLEX/master.slc"));
    EXPECT_FALSE(fs::exists(dir + "/c/pair.off"));
    const std::string off = read_file(dir + "/coarse.par");
    EXPECT_NE(off.find("\ninitial_range_offset:                   -7\n"), std::string::npos);
    EXPECT_NE(off.find("\ninitial_azimuth_offset:                  4\n"), std::string::npos);
}

void write_polynomials(const std::string& path, const char* range, const char* azimuth) {
    std::ofstream(path) << "title: hand made\nrange_offset_polynomial:  " << range
                        << "\nazimuth_offset_polynomial: " << azimuth << "\n";
}

// Differences known analytically: range +0.05 everywhere; azimuth
// 1e-8 x^2, largest at the last column, x = 1999: 0.03996001.
TEST(SlcsimCli, CompareReportsTheDifferencesOverTheImage) {
    const std::string dir = test_dir();
    write_polynomials(dir + "/truth.off", "1.5 1e-3 0 0 0 0", "-2.25 0 1e-4 0 0 0");
    write_polynomials(dir + "/fitted.off", "1.55 1e-3 0 0 0 0", "-2.25 0 1e-4 0 1e-8 0");
    const std::vector<std::string> args = {"--compare", "--truth",           dir + "/truth.off",
                                           "--fitted",  dir + "/fitted.off", "--width",
                                           "2000",      "--lines",           "3"};
    const ProcessRun run = slcsim(args);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    // x lattice 0, 4, ..., 1996, 1999: 501 columns; mean of (1e-8 x^2)^2 by hand.
    double sum = 0.0;
    for (int x = 0; x <= 2000; x += 4)
        sum += std::pow(1e-8 * std::min(x, 1999) * std::min(x, 1999), 2);
    char expected_rms[16];
    std::snprintf(expected_rms, sizeof expected_rms, "%.4f", std::sqrt(sum / 501));
    EXPECT_EQ(run.out,
              "offset polynomials            1            x            y          x*y          x^2"
              "          y^2\n"
              "  range    true        1.50000   1.0000e-03   0.0000e+00   0.0000e+00   0.0000e+00"
              "   0.0000e+00\n"
              "           fitted      1.55000   1.0000e-03   0.0000e+00   0.0000e+00   0.0000e+00"
              "   0.0000e+00\n"
              "  azimuth  true       -2.25000   0.0000e+00   1.0000e-04   0.0000e+00   0.0000e+00"
              "   0.0000e+00\n"
              "           fitted     -2.25000   0.0000e+00   1.0000e-04   0.0000e+00   1.0000e-08"
              "   0.0000e+00\n"
              "fitted - true over the 2000 x 3 image (lattice of 501 x 2 positions, 4 apart):\n"
              "  range    largest 0.0500  rms 0.0500 samples\n"
              "  azimuth  largest 0.0400  rms " +
                  std::string(expected_rms) +
                  " lines\n"
                  "largest difference: 0.0500 samples\n");

    const ProcessRun failed = slcsim(args, {"--tolerance", "0.04"});
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.err,
              "slcsim: largest difference 0.0500 exceeds the tolerance of 0.04 samples\n");
    EXPECT_EQ(slcsim(args, {"--tolerance", "0.06"}).status, 0);

    write_polynomials(dir + "/fitted.off", "1.55 1e-3 0 0 0", "-2.25 0 1e-4 0 1e-8 0");
    expect_one_line_error(slcsim(args), "slcsim", 1,
                          dir + "/fitted.off: range_offset_polynomial: does not hold six numbers");
}

} // namespace
