// The finecoreg tool run as a user runs it: exit status, standard output and
// standard error, on files and on a terminal.
#include "params/keyword_reader.h"
#include "params/offset_par_file.h"
#include "params/sar_image_xml_writer.h"
#include "tests/support/run_process.h"

#include <algorithm>
#include <complex>
#include <cstdlib>
#include <gtest/gtest.h>
#include <pty.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace {

ProcessRun finecoreg(const std::vector<std::string>& args) {
    return run_process(FINECOREG_TOOL, args);
}

// Runs the tool on a pseudo-terminal (stdout and stderr both); returns what
// the terminal saw, and the exit status in *status.
std::string run_on_terminal(const std::vector<std::string>& args, int* status) {
    const std::vector<char*> argv = argv_of(FINECOREG_TOOL, args);
    int master = -1;
    const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
    if (pid == 0) {
        ::execv(FINECOREG_TOOL, argv.data());
        ::_exit(127);
    }
    std::string seen;
    char buffer[4096];
    for (ssize_t n; pid > 0 && (n = ::read(master, buffer, sizeof(buffer))) > 0;)
        seen.append(buffer, static_cast<std::size_t>(n));
    int wstatus = 0;
    *status = pid > 0 && ::waitpid(pid, &wstatus, 0) == pid && WIFEXITED(wstatus)
                  ? WEXITSTATUS(wstatus)
                  : -1;
    if (master >= 0)
        ::close(master);
    return seen;
}

int count_lines(const std::string& text) {
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

constexpr int kSide = 512, kRangeShift = 3, kAzimuthShift = -2;

// A master of complex Gaussian speckle and a slave holding the same scene
// shifted by whole samples (slave position = master position + offset), with
// their XML files and an offset parameter file of zero coarse offsets.
struct Pair {
    std::string dir, master, slave, off;

    explicit Pair(const std::string& name)
        : dir(std::string(FC_TEST_TMP_DIR) + "/" + name), master(dir + "/master.slc"),
          slave(dir + "/slave.slc"), off(dir + "/pair.off") {
        ::mkdir(dir.c_str(), 0755);
        std::mt19937 rng(1234);
        std::normal_distribution<float> gauss;
        std::vector<std::complex<float>> m(kSide * kSide), s(m.size());
        for (auto* image : {&m, &s})
            for (auto& v : *image)
                v = {gauss(rng), gauss(rng)};
        for (int y = std::max(0, kAzimuthShift); y < kSide + std::min(0, kAzimuthShift); y++)
            for (int x = std::max(0, kRangeShift); x < kSide + std::min(0, kRangeShift); x++)
                s[y * kSide + x] = m[(y - kAzimuthShift) * kSide + x - kRangeShift];
        for (const auto* image : {&m, &s}) {
            const std::string path = image == &m ? master : slave;
            std::ofstream(path, std::ios::binary)
                .write(reinterpret_cast<const char*>(image->data()),
                       static_cast<std::streamsize>(image->size() * sizeof(m[0])));
            EXPECT_TRUE(write_sar_image_xml(path.substr(0, path.size() - 4) + ".xml",
                                            make_sar_image_info(kSide, kSide, "FCOMPLEX")));
        }
        EXPECT_TRUE(write_offset_par_file(off, stOffsetParInfo{}));
    }

    std::vector<std::string> args(const std::vector<std::string>& extra = {}) const {
        std::vector<std::string> a{"--master", master, "--slave", slave, "--off", off};
        for (const char* option : {"--window-width", "64", "--window-height=64", "--range-samples",
                                   "8", "--azimuth-samples", "8"})
            a.push_back(option);
        a.insert(a.end(), extra.begin(), extra.end());
        return a;
    }
};

// Range and azimuth polynomials of an offset parameter file.
std::vector<double> polynomials(const std::string& path) {
    std::vector<double> c(12, 0.0);
    std::FILE* f = std::fopen(path.c_str(), "r");
    if (!f)
        return {};
    int length = 0;
    char* text = read_par_text(f, &length);
    std::fclose(f);
    rd_vec(text, length, "range_offset_polynomial", c.data(), 6);
    rd_vec(text, length, "azimuth_offset_polynomial", c.data() + 6, 6);
    std::free(text);
    return c;
}

// Bad command lines exit with 2, failures with 1.
TEST(FinecoregFailures, ReportOneLineAndTheirExitStatus) {
    const Pair pair("failures");
    const std::string lone = pair.dir + "/lone.slc", bad = pair.dir + "/bad.slc";
    std::ofstream(lone) << "x";
    std::ofstream(bad) << "x";
    std::string xml = read_file(pair.dir + "/slave.xml");
    const std::string rows = "<numberOfRows>512</numberOfRows>";
    ASSERT_NE(xml.find(rows), std::string::npos);
    std::ofstream(pair.dir + "/bad.xml")
        << xml.replace(xml.find(rows), rows.size(), "<numberOfRows>5x2</numberOfRows>");
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
        {{"--master", pair.master}, 2, "--slave, --off"},
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
        // The module's own refusal passes through as its message.
        {pair.args({"--window-width", "48"}), 1,
         "finecoreg: Window width and height must be powers of two"},
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

TEST(FinecoregRun, ShiftedPairGivesTheShiftBesideTheOffsetFile) {
    const Pair pair("run");
    const ProcessRun run = finecoreg(pair.args());
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string fitted = pair.dir + "/pair_new.off";
    const std::vector<double> c = polynomials(fitted);
    ASSERT_EQ(c.size(), 12u);
    // Whole-sample shifts of identical speckle: the fitted model gives them
    // everywhere on the image to well below a hundredth of a sample.
    for (double x : {0.0, 255.5, 511.0})
        for (double y : {0.0, 255.5, 511.0}) {
            EXPECT_NEAR(eval_offset_poly(&c[0], x, y), kRangeShift, 0.01) << x << " " << y;
            EXPECT_NEAR(eval_offset_poly(&c[6], x, y), kAzimuthShift, 0.01) << x << " " << y;
        }
    EXPECT_EQ(polynomials(pair.off)[0], 0.0); // the input keeps its coarse model

    // The module's report comes first, unchanged, then the summary.
    const std::size_t module_line = run.out.find("final solution: ");
    const std::size_t summary = run.out.find("\nfinecoreg summary\n");
    ASSERT_LT(module_line, summary);
    ASSERT_NE(summary, std::string::npos);
    int accepted = 0, samples = 0;
    ASSERT_EQ(std::sscanf(run.out.c_str() + module_line,
                          "final solution: %d offset estimates accepted out of %d samples",
                          &accepted, &samples),
              2);
    const std::string tail = run.out.substr(summary);
    for (const std::string& line : {"fitted offset parameters:    " + fitted + "\n",
                                    "accepted offset estimates:   " + std::to_string(accepted) +
                                        " of " + std::to_string(samples) + "\n",
                                    std::string("model fit std. dev.:         range "),
                                    std::string("on the 512 x 512 master")})
        EXPECT_NE(tail.find(line), std::string::npos) << line;
    // The corner offsets shown are the fitted polynomials' at that corner.
    const std::size_t corner = tail.find("last line, last sample");
    ASSERT_NE(corner, std::string::npos);
    double x = 0.0, y = 0.0, range = 0.0, azimuth = 0.0;
    ASSERT_EQ(std::sscanf(tail.c_str() + corner, "last line, last sample (%lf, %lf): %lf %lf", &x,
                          &y, &range, &azimuth),
              4);
    EXPECT_EQ(x, 511.0);
    EXPECT_EQ(y, 511.0);
    EXPECT_NEAR(range, eval_offset_poly(&c[0], 511.0, 511.0), 0.5e-4);
    EXPECT_NEAR(azimuth, eval_offset_poly(&c[6], 511.0, 511.0), 0.5e-4);

    // Not a terminal: progress as at most one line per ten percent, ending at 100.
    EXPECT_GE(count_lines(run.err), 1);
    EXPECT_LE(count_lines(run.err), 10);
    EXPECT_NE(run.err.find("finecoreg: 100% done\n"), std::string::npos) << run.err;
}

TEST(FinecoregRun, OverwriteAndQuiet) {
    const Pair pair("overwrite");
    const ProcessRun run = finecoreg(pair.args({"--overwrite", "--quiet"}));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(run.err.empty()) << run.err;
    EXPECT_NE(::access((pair.dir + "/pair_new.off").c_str(), F_OK), 0);
    const std::vector<double> c = polynomials(pair.off);
    ASSERT_EQ(c.size(), 12u);
    EXPECT_NEAR(c[0], kRangeShift, 0.01);
    EXPECT_NEAR(c[6], kAzimuthShift, 0.01);
    EXPECT_NE(run.out.find("fitted offset parameters:    " + pair.off + "\n"), std::string::npos);
}

TEST(FinecoregRun, TerminalGetsARedrawnBarUnlessQuiet) {
    const Pair pair("terminal");
    int status = -1;
    const std::string seen = run_on_terminal(pair.args(), &status);
    EXPECT_EQ(status, 0) << seen;
    EXPECT_NE(seen.find("\r[.............................."), std::string::npos) << seen;
    EXPECT_NE(seen.find("\r[##############################] 100.0%"), std::string::npos) << seen;
    EXPECT_EQ(seen.find("% done"), std::string::npos) << seen;
    EXPECT_NE(seen.find("finecoreg summary"), std::string::npos);

    const std::string quiet = run_on_terminal(pair.args({"--quiet"}), &status);
    EXPECT_EQ(status, 0) << quiet;
    EXPECT_EQ(quiet.find("\r["), std::string::npos) << quiet;
    EXPECT_NE(quiet.find("final solution: "), std::string::npos); // the module still speaks
}

} // namespace
