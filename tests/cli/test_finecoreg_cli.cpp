// The finecoreg tool run as a user runs it: exit status, standard output and
// standard error. Refusals of bad inputs are in
// the fault table (tests/faults).
#include "tests/support/run_process.h"
#include "tests/support/scratch.h"

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

// Bad command lines exit with 2, failures with 1.
TEST(FinecoregFailures, ReportOneLineAndTheirExitStatus) {
    const Pair pair;
    const std::string lone = pair.dir + "/lone.slc", bad = pair.dir + "/bad.slc";
    write_bytes(lone, "x");
    write_bytes(bad, "x");
    std::string xml = read_bytes(pair.dir + "/slave.xml");
    const std::string rows = "<numberOfRows>256</numberOfRows>";
    ASSERT_NE(xml.find(rows), std::string::npos);
    write_bytes(pair.dir + "/bad.xml",
                xml.replace(xml.find(rows), rows.size(), "<numberOfRows>2x6</numberOfRows>"));
    const struct {
        std::vector<std::string> args;
        int status;
        std::string part;
    } cases[] = {
        {pair.args({"--window-width", "abc"}), 2, "'abc'"},
        {pair.args({"--range-samples=0"}), 2, "--range-samples"},
        {pair.args({"--snr-threshold", "7x"}), 2, "'7x'"},
        {pair.args({"--frobnicate"}), 2, "'--frobnicate'"},
        {pair.args({"--quiet=yes"}), 2, "--quiet"},
        {{"--master", pair.files.master}, 2, "--slave, --off"},
        {{"--master"}, 2, "--master"},
        // The last of a repeated option wins.
        {pair.args({"--slave", pair.dir + "/absent.slc"}), 1,
         "slave image not found: " + pair.dir + "/absent.slc"},
        // An image without its XML file is refused before the plug-in is loaded.
        {pair.args({"--slave", lone}), 1,
         "slave image parameter file not found: " + pair.dir + "/lone.xml"},
        {pair.args({"--slave", bad}), 1,
         "malformed image parameter file " + pair.dir + "/bad.xml: "},
        {pair.args({"--plugin", "/nonexistent.so"}), 1, "cannot load the plug-in: /nonexistent.so"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.part);
        expect_one_line_error(finecoreg(c.args), "finecoreg", c.status, c.part);
    }
}

TEST(FinecoregUsage, HelpAndVersionExit0OnStdout) {
    const ProcessRun help = finecoreg({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: finecoreg --master PATH", 0), 0u);
    EXPECT_TRUE(help.err.empty());
    const ProcessRun version = finecoreg({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "finecoreg " FINECOREG_VERSION "\n");
}

TEST(FinecoregRun, ShiftedPairGivesTheShiftAndASummary) {
    const Pair pair;
    const ProcessRun run = finecoreg(pair.args());
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string fitted = pair.dir + "/pair_new.off";
    const stOffsetParInfo par = read_off(fitted);
    EXPECT_NEAR(eval_offset_poly(par.range_offset_polynomial, 128, 128), kRangeShift, 0.01);
    EXPECT_NEAR(eval_offset_poly(par.azimuth_offset_polynomial, 128, 128), kAzimuthShift, 0.01);

    // The module's report comes first, unchanged, then the summary.
    const std::size_t module_line = run.out.find("final solution: ");
    const std::size_t summary = run.out.find("\nfinecoreg summary\n");
    ASSERT_NE(summary, std::string::npos);
    ASSERT_LT(module_line, summary);
    int accepted = 0, samples = 0;
    ASSERT_EQ(std::sscanf(run.out.c_str() + module_line,
                          "final solution: %d offset estimates accepted out of %d samples",
                          &accepted, &samples),
              2);
    EXPECT_EQ(samples, 64);
    const std::string tail = run.out.substr(summary);
    for (const std::string& line :
         {"fitted offset parameters:    " + fitted + "\n",
          "accepted offset estimates:   " + std::to_string(accepted) + " of 64\n",
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
