// The slcsim tool run as a user runs it: a child process whose exit status,
// standard output, standard error and files are checked.
#include "tools/slcsim/slcsim.h"

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A fresh scratch directory named after the running test (CTest runs the
// tests of one binary in parallel).
std::string test_dir() {
    const std::string dir = std::string(FC_TEST_TMP_DIR) + "/" +
                            testing::UnitTest::GetInstance()->current_test_info()->name();
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

ToolRun run_slcsim(const std::string& dir, const std::vector<std::string>& args) {
    std::vector<char*> argv{const_cast<char*>(SLCSIM_TOOL)};
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const std::string out = dir + "/tool.out", err = dir + "/tool.err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ToolRun run;
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, SLCSIM_TOOL, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int wstatus = 0;
    if (spawned == 0 && ::waitpid(pid, &wstatus, 0) == pid && WIFEXITED(wstatus))
        run.status = WEXITSTATUS(wstatus);
    run.out = slurp(out);
    run.err = slurp(err);
    return run;
}

void expect_one_line_error(const ToolRun& run, int status, const std::string& part) {
    EXPECT_EQ(run.status, status) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(run.err.rfind("slcsim: ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find(part), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
}

std::string line_starting(const std::string& text, const std::string& start) {
    const std::size_t at = text.find("\n" + start);
    return at == std::string::npos ? "" : text.substr(at + 1, text.find('\n', at + 1) - at - 1);
}

const std::vector<std::string> kSmallPair = {
    "--width",        "96",           "--lines",     "80",  "--range-poly", "2.6,1e-3,0,0,0,2e-6",
    "--azimuth-poly", "-1.5,0,-2e-3", "--coherence", "0.8", "--seed",       "11"};

TEST(SlcsimCli, BadUsageExitsTwoWithOneLine) {
    const std::string dir = test_dir();
    const struct {
        std::vector<std::string> args;
        const char* part;
    } cases[] = {
        {{"--bogus"}, "unknown option --bogus"},
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
        expect_one_line_error(run_slcsim(dir, c.args), 2, c.part);
    }
    EXPECT_FALSE(std::filesystem::exists(dir + "/master.slc"));
}

TEST(SlcsimCli, HelpAndVersion) {
    const std::string dir = test_dir();
    const ToolRun help = run_slcsim(dir, {"--bogus", "--help"});
    EXPECT_EQ(help.status, 2); // a bad option wins over --help
    const ToolRun usage = run_slcsim(dir, {"--width", "5", "--help"});
    EXPECT_EQ(usage.status, 0);
    EXPECT_EQ(usage.out.rfind("Usage: slcsim", 0), 0u);
    const ToolRun version = run_slcsim(dir, {"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("slcsim ") + SLCSIM_VERSION + "\n");
}

TEST(SlcsimCli, IoFailuresExitOne) {
    const std::string dir = test_dir();
    std::ofstream(dir + "/plain") << "x";
    expect_one_line_error(run_slcsim(dir, {"--out-dir", dir + "/plain/sub"}), 1,
                          "cannot create directory " + dir + "/plain/sub");
    std::vector<std::string> args = kSmallPair;
    args.insert(args.end(), {"--out-dir", dir, "--slave", dir + "/missing/slave.slc"});
    expect_one_line_error(run_slcsim(dir, args), 1, "cannot write " + dir + "/missing/slave.slc");
    expect_one_line_error(run_slcsim(dir, {"--compare", "--truth", dir + "/none.off", "--fitted",
                                           dir + "/plain", "--width", "8", "--lines", "8"}),
                          1, "cannot open " + dir + "/none.off");
}

TEST(SlcsimCli, WritesThePairFilesWithTheirSizes) {
    const std::string dir = test_dir();
    for (const char* format : {"FCOMPLEX", "scomplex"}) {
        std::vector<std::string> args = kSmallPair;
        args.insert(args.end(), {"--format", format, "--out-dir", dir + "/" + format});
        const ToolRun run = run_slcsim(dir, args);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");
        const std::string base = dir + "/" + format + "/";
        const std::uintmax_t bytes = 96u * 80u * (format[0] == 'F' ? 8u : 4u);
        EXPECT_EQ(std::filesystem::file_size(base + "master.slc"), bytes);
        EXPECT_EQ(std::filesystem::file_size(base + "slave.slc"), bytes);
        const std::string xml = slurp(base + "slave.xml");
        EXPECT_NE(xml.find(format[0] == 'F' ? "FCOMPLEX" : "SCOMPLEX"), std::string::npos);
        EXPECT_TRUE(std::filesystem::exists(base + "master.xml"));
        // Coarse offsets default to the rounded constant terms.
        const std::string off = slurp(base + "pair.off");
        EXPECT_EQ(line_starting(off, "initial_range_offset:"),
                  "initial_range_offset:                    3");
        EXPECT_EQ(line_starting(off, "initial_azimuth_offset:"),
                  "initial_azimuth_offset:                 -2");
        EXPECT_EQ(line_starting(slurp(base + "truth.off"), "range_offset_polynomial:"),
                  "range_offset_polynomial:         2.60000   1.0000e-03   0.0000e+00   "
                  "0.0000e+00   0.0000e+00   2.0000e-06");
    }
    // Explicit paths override --out-dir's; explicit coarse offsets win.
    std::vector<std::string> args = kSmallPair;
    args.insert(args.end(), {"--out-dir", dir + "/mixed", "--off", dir + "/coarse.par",
                             "--coarse-range", "-7", "--coarse-azimuth=4"});
    ASSERT_EQ(run_slcsim(dir, args).status, 0);
    EXPECT_FALSE(std::filesystem::exists(dir + "/mixed/pair.off"));
    const std::string off = slurp(dir + "/coarse.par");
    EXPECT_EQ(line_starting(off, "initial_range_offset:"),
              "initial_range_offset:                   -7");
    EXPECT_EQ(line_starting(off, "initial_azimuth_offset:"),
              "initial_azimuth_offset:                  4");
}

// The same seed gives the same bytes, and the tool passes every option to
// the simulator: the library, called directly with them, writes the same.
TEST(SlcsimCli, DeterministicAndFaithfulToTheOptions) {
    const std::string dir = test_dir();
    std::vector<std::string> args = kSmallPair;
    args.insert(args.end(), {"--format", "SCOMPLEX", "--occupancy", "0.6"});
    for (const char* run : {"a", "b"}) {
        std::vector<std::string> with_dir = args;
        with_dir.insert(with_dir.end(), {"--out-dir", dir + "/" + run});
        ASSERT_EQ(run_slcsim(dir, with_dir).status, 0);
    }
    SlcSimOptions o;
    o.width = 96;
    o.lines = 80;
    o.format = SlcFormat::scomplex;
    o.range_offset_polynomial[0] = 2.6;
    o.range_offset_polynomial[1] = 1e-3;
    o.range_offset_polynomial[5] = 2e-6;
    o.azimuth_offset_polynomial[0] = -1.5;
    o.azimuth_offset_polynomial[2] = -2e-3;
    o.coherence = 0.8;
    o.occupancy = 0.6;
    o.seed = 11;
    o.master_path = dir + "/lib_master.slc";
    o.slave_path = dir + "/lib_slave.slc";
    o.offset_par_path = dir + "/lib_pair.off";
    o.truth_path = dir + "/lib_truth.off";
    std::string error;
    ASSERT_TRUE(simulate_slc_pair(o, &error)) << error;
    for (const char* file : {"master.slc", "slave.slc"}) {
        const std::string a = slurp(dir + "/a/" + file);
        EXPECT_EQ(a.size(), 96u * 80u * 4u);
        EXPECT_EQ(a, slurp(dir + "/b/" + file)) << file;
        EXPECT_EQ(a, slurp(dir + "/lib_" + file)) << file;
    }
    EXPECT_EQ(slurp(dir + "/a/truth.off"), slurp(dir + "/lib_truth.off"));

    args.insert(args.end(), {"--seed", "12", "--out-dir", dir + "/c"});
    ASSERT_EQ(run_slcsim(dir, args).status, 0);
    EXPECT_NE(slurp(dir + "/a/master.slc"), slurp(dir + "/c/master.slc"));
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
    const ToolRun run = run_slcsim(dir, args);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    // x lattice 0, 4, ..., 1996, 1999: 501 columns; mean of (1e-8 x^2)^2 by hand.
    double sum = 0.0;
    for (int x = 0; x <= 2000; x += 4) {
        const double d = 1e-8 * std::min(x, 1999) * std::min(x, 1999);
        sum += d * d;
    }
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

    std::vector<std::string> strict = args;
    strict.insert(strict.end(), {"--tolerance", "0.04"});
    const ToolRun failed = run_slcsim(dir, strict);
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.err,
              "slcsim: largest difference 0.0500 exceeds the tolerance of 0.04 samples\n");
    strict.back() = "0.06";
    EXPECT_EQ(run_slcsim(dir, strict).status, 0);

    write_polynomials(dir + "/fitted.off", "1.55 1e-3 0 0 0", "-2.25 0 1e-4 0 1e-8 0");
    expect_one_line_error(run_slcsim(dir, args), 1,
                          dir + "/fitted.off: range_offset_polynomial: does not hold six numbers");
}

} // namespace
