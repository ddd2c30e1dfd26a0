// The finecoreg tool run as a user runs it: exit status, standard output and
// standard error.
#include "tests/support/run_process.h"
#include "tests/support/scratch.h"

#include <regex>
#include <unistd.h>

namespace {

using namespace scratch;

ProcessRun finecoreg(const std::vector<std::string>& args) {
    return run_process(FINECOREG_TOOL, args);
}

constexpr int kRangeShift = 3, kAzimuthShift = -2;

// A 256 x 256 pair shifted by (3, -2), given as the coarse offset.
struct Pair {
    std::string dir = fresh_test_dir();
    PairFiles files = write_pair(
        dir,
        [] {
            PairSpec p;
            p.dx = kRangeShift;
            p.dy = kAzimuthShift;
            return p;
        }(),
        kRangeShift, kAzimuthShift);

    std::vector<std::string> args(const std::vector<std::string>& extra = {}) const {
        std::vector<std::string> a{
            "--master", files.master,        "--slave", files.slave,          "--off",
            files.off,  "--window-width",    "64",      "--window-height=64", "--range-samples",
            "8",        "--azimuth-samples", "8"};
        a.insert(a.end(), extra.begin(), extra.end());
        return a;
    }
};

// Bad command lines exit with 2, failures with 1. (The module's refusals
// through the tool are in the fault table.)
TEST(FinecoregFailures, ReportOneLineAndTheirExitStatus) {
    const Pair pair;
    const std::string lone = pair.dir + "/lone.slc";
    write_bytes(lone, "x");
    const struct {
        std::vector<std::string> args;
        int status;
        std::string part;
    } cases[] = {
        {pair.args({"--window-width", "abc"}), 2, "'abc'"},
        {pair.args({"--snr-threshold", "7x"}), 2, "'7x'"},
        {pair.args({"--frobnicate"}), 2, "'--frobnicate'"},
        {pair.args({"--quiet=yes"}), 2, "quiet"},
        {{"--master", pair.files.master}, 2, "--slave"},
        {{"--master"}, 2, "--master"},
        // The last of a repeated option wins.
        {pair.args({"--slave", pair.dir + "/absent.slc"}), 1,
         "slave image not found: " + pair.dir + "/absent.slc"},
        // An image without its XML file is refused before the plug-in is loaded.
        {pair.args({"--slave", lone}), 1,
         "slave image parameter file not found: " + pair.dir + "/lone.xml"},
        {pair.args({"--plugin", "/nonexistent.so"}), 1, "cannot load the plug-in: /nonexistent.so"},
        {pair.args({"--threads", "0"}), 2, "--threads: '0'"},
        {pair.args({"--threads", "1025"}), 1, "Number of threads must be from 1 to 1024 !"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.part);
        expect_one_line_error(finecoreg(c.args), "finecoreg", c.status, c.part);
    }
}

// The fitted shift is checked by the fault table's tool runs.
TEST(FinecoregRun, ModuleReportThenASummary) {
    const Pair pair;
    const ProcessRun run = finecoreg(pair.args());
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string fitted = pair.dir + "/pair_new.off";
    const stOffsetParInfo par = read_off(fitted);
    // The module's report comes first, unchanged, then the summary.
    const std::size_t summary = run.out.find("\nfinecoreg summary\n");
    ASSERT_NE(summary, std::string::npos);
    ASSERT_LT(run.out.find("final solution: "), summary);
    const std::string tail = run.out.substr(summary);
    for (const std::string& line :
         {"fitted offset parameters:    " + fitted + "\n", std::string(" of 64\n"),
          std::string("on the 256 x 256 master")})
        EXPECT_NE(tail.find(line), std::string::npos) << line;
    // The corner offsets shown are the fitted polynomials' at that corner.
    double x = 0.0, y = 0.0, range = 0.0, azimuth = 0.0;
    ASSERT_EQ(std::sscanf(tail.c_str() + tail.find("last line, last sample"),
                          "last line, last sample (%lf, %lf): %lf %lf", &x, &y, &range, &azimuth),
              4);
    EXPECT_EQ(x + y, 510.0);
    EXPECT_NEAR(range, eval_offset_poly(par.range_offset_polynomial, 255, 255), 0.5e-4);
    EXPECT_NEAR(azimuth, eval_offset_poly(par.azimuth_offset_polynomial, 255, 255), 0.5e-4);

    // Not a terminal: progress as at most one line per ten percent, ending at 100.
    EXPECT_GE(std::count(run.err.begin(), run.err.end(), '\n'), 1);
    EXPECT_LE(std::count(run.err.begin(), run.err.end(), '\n'), 10);
    EXPECT_NE(run.err.find("finecoreg: 100% done\n"), std::string::npos) << run.err;
}

// Progress lines without their ", about M:SS left", which follow the clock.
std::string without_estimates(const std::string& progress) {
    return std::regex_replace(progress, std::regex(", about [0-9]+:[0-9]+ left"), "");
}

// On threads in the tool's own process: what the plug-in shows and writes.
TEST(FinecoregRun, ThreadsGiveWhatThePluginGives) {
    const Pair pair;
    const std::string off = read_bytes(pair.files.off);
    const ProcessRun plugin = finecoreg(pair.args());
    ASSERT_EQ(plugin.status, 0) << plugin.err;
    const std::string rewritten = read_bytes(pair.files.off);
    const std::string fitted = read_bytes(pair.dir + "/pair_new.off");
    for (const char* threads : {"2", "5"}) {
        write_bytes(pair.files.off, off);
        fs::remove(pair.dir + "/pair_new.off");
        const ProcessRun run = finecoreg(pair.args({"--threads", threads}));
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, plugin.out);
        EXPECT_EQ(without_estimates(run.err), without_estimates(plugin.err));
        EXPECT_EQ(read_bytes(pair.files.off), rewritten);
        EXPECT_EQ(read_bytes(pair.dir + "/pair_new.off"), fitted);
    }
}

TEST(FinecoregRun, OverwriteAndQuiet) {
    const Pair pair;
    write_off(pair.files.off, stOffsetParInfo{}); // no coarse offset: the fit shows
    const ProcessRun run = finecoreg(pair.args({"--overwrite", "--quiet"}));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_FALSE(fs::exists(pair.dir + "/pair_new.off"));
    const stOffsetParInfo par = read_off(pair.files.off);
    EXPECT_NEAR(eval_offset_poly(par.range_offset_polynomial, 128, 128), kRangeShift, 0.1);
    EXPECT_NE(run.out.find("fitted offset parameters:    " + pair.files.off + "\n"),
              std::string::npos);
}

} // namespace
