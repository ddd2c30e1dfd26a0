// The finecoreg tool run as a user runs it: a child process whose exit status,
// standard output and standard error are checked.
#include "params/keyword_reader.h"
#include "params/offset_par.h"
#include "params/sar_image_xml_writer.h"

#include <complex>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <pty.h>
#include <random>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
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

bool exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

// Runs the tool with stdout and stderr in files (never a terminal here).
ToolRun run_tool(const std::vector<std::string>& args) {
    const std::string outPath = std::string(FC_TEST_TMP_DIR) + "/tool.out";
    const std::string errPath = std::string(FC_TEST_TMP_DIR) + "/tool.err";
    std::vector<char*> argv{const_cast<char*>(FINECOREG_TOOL)};
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    ToolRun run;
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, FINECOREG_TOOL, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return run;
    int wstatus = 0;
    if (::waitpid(pid, &wstatus, 0) == pid && WIFEXITED(wstatus))
        run.status = WEXITSTATUS(wstatus);
    run.out = slurp(outPath);
    run.err = slurp(errPath);
    return run;
}

// Runs the tool on a pseudo-terminal (stdout and stderr both); returns what
// the terminal saw, and the exit status in *status.
std::string run_on_terminal(const std::vector<std::string>& args, int* status) {
    std::vector<char*> argv{const_cast<char*>(FINECOREG_TOOL)};
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int master = -1;
    const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
    if (pid == 0) {
        ::execv(FINECOREG_TOOL, argv.data());
        ::_exit(127);
    }
    std::string seen;
    char buffer[4096];
    ssize_t n = 0;
    while (pid > 0 && (n = ::read(master, buffer, sizeof(buffer))) > 0)
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

// One diagnostic line on stderr, "finecoreg: " first, containing `part`.
void expect_one_line_error(const ToolRun& run, int status, const std::string& part) {
    EXPECT_EQ(run.status, status) << run.err;
    EXPECT_EQ(count_lines(run.err), 1) << run.err;
    EXPECT_EQ(run.err.rfind("finecoreg: ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find(part), std::string::npos) << run.err;
}

constexpr int kSide = 512;
constexpr int kRangeShift = 3;
constexpr int kAzimuthShift = -2;

// A master of complex Gaussian speckle and a slave holding the same scene
// shifted by whole samples (slave position = master position + offset), with
// their XML files and an offset parameter file of zero coarse offsets.
struct Pair {
    std::string dir, master, slave, off;

    explicit Pair(const std::string& name) {
        dir = std::string(FC_TEST_TMP_DIR) + "/" + name;
        ::mkdir(dir.c_str(), 0755);
        master = dir + "/master.slc";
        slave = dir + "/slave.slc";
        off = dir + "/pair.off";
        std::mt19937 rng(1234);
        std::normal_distribution<float> gauss(0.0f, 1.0f);
        auto speckle = [&] { return std::complex<float>(gauss(rng), gauss(rng)); };
        std::vector<std::complex<float>> m(kSide * kSide), s(kSide * kSide);
        for (auto& v : m)
            v = speckle();
        for (int y = 0; y < kSide; y++)
            for (int x = 0; x < kSide; x++) {
                const int xm = x - kRangeShift;
                const int ym = y - kAzimuthShift;
                const bool inside = xm >= 0 && xm < kSide && ym >= 0 && ym < kSide;
                s[y * kSide + x] = inside ? m[ym * kSide + xm] : speckle();
            }
        write_raw(master, m);
        write_raw(slave, s);
        const stSarImageInfo info = make_sar_image_info(kSide, kSide, "FCOMPLEX");
        EXPECT_TRUE(write_sar_image_xml(dir + "/master.xml", info));
        EXPECT_TRUE(write_sar_image_xml(dir + "/slave.xml", info));
        stOffsetParInfo par{};
        std::FILE* f = std::fopen(off.c_str(), "w");
        write_offset_par(f, &par);
        std::fclose(f);
    }

    static void write_raw(const std::string& path, const std::vector<std::complex<float>>& v) {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(v.data()),
                   static_cast<std::streamsize>(v.size() * sizeof(v[0])));
    }

    std::vector<std::string> args(std::vector<std::string> extra = {}) const {
        std::vector<std::string> a{"--master",
                                   master,
                                   "--slave",
                                   slave,
                                   "--off",
                                   off,
                                   "--window-width",
                                   "64",
                                   "--window-height=64",
                                   "--range-samples",
                                   "8",
                                   "--azimuth-samples",
                                   "8"};
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

TEST(FinecoregUsage, BadCommandLinesExitWith2AndOneLine) {
    const Pair pair("usage");
    expect_one_line_error(run_tool(pair.args({"--window-width", "abc"})), 2, "'abc'");
    expect_one_line_error(run_tool(pair.args({"--range-samples=0"})), 2, "--range-samples");
    expect_one_line_error(run_tool(pair.args({"--snr-threshold", "7x"})), 2, "'7x'");
    expect_one_line_error(run_tool(pair.args({"--frobnicate"})), 2, "'--frobnicate'");
    expect_one_line_error(run_tool(pair.args({"--quiet=yes"})), 2, "--quiet");
    expect_one_line_error(run_tool({"--master", pair.master}), 2, "--slave, --off");
    expect_one_line_error(run_tool({"--master"}), 2, "--master");
}

TEST(FinecoregUsage, HelpAndVersionExit0OnStdout) {
    const ToolRun help = run_tool({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: finecoreg --master PATH", 0), 0u);
    EXPECT_TRUE(help.err.empty());
    const ToolRun version = run_tool({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "finecoreg " FINECOREG_VERSION "\n");
}

TEST(FinecoregFailures, ReportOneLineAndExit1) {
    const Pair pair("failures");
    std::vector<std::string> a = pair.args();
    a[3] = pair.dir + "/absent.slc";
    expect_one_line_error(run_tool(a), 1, "slave image not found: " + a[3]);

    // An image without its XML file is refused before the plug-in is loaded.
    const std::string lone = pair.dir + "/lone.slc";
    std::ofstream(lone) << "x";
    a[3] = lone;
    expect_one_line_error(run_tool(a), 1,
                          "slave image parameter file not found: " + pair.dir + "/lone.xml");

    expect_one_line_error(run_tool(pair.args({"--plugin", "/nonexistent.so"})), 1,
                          "cannot load the plug-in: /nonexistent.so");
    // The module's own refusal passes through as its message.
    expect_one_line_error(run_tool(pair.args({"--window-width", "48"})), 1,
                          "finecoreg: Window width and height must be powers of two");
}

TEST(FinecoregFailures, MalformedXmlNumberIsReportedNotACrash) {
    const Pair pair("malformed");
    const std::string xml = pair.dir + "/slave.xml";
    std::string text = slurp(xml);
    const std::string good = "<numberOfRows>512</numberOfRows>";
    ASSERT_NE(text.find(good), std::string::npos);
    text.replace(text.find(good), good.size(), "<numberOfRows>5x2</numberOfRows>");
    std::ofstream(xml) << text;
    const ToolRun run = run_tool(pair.args({"--quiet"}));
    expect_one_line_error(run, 1, "malformed image parameter file " + xml + ": ");
}

TEST(FinecoregRun, ShiftedPairGivesTheShiftBesideTheOffsetFile) {
    const Pair pair("run");
    const ToolRun run = run_tool(pair.args());
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
    const std::size_t moduleLine = run.out.find("final solution: ");
    const std::size_t summary = run.out.find("\nfinecoreg summary\n");
    ASSERT_NE(moduleLine, std::string::npos);
    ASSERT_NE(summary, std::string::npos);
    EXPECT_LT(moduleLine, summary);
    int accepted = 0, samples = 0;
    ASSERT_EQ(std::sscanf(run.out.c_str() + moduleLine,
                          "final solution: %d offset estimates accepted out of %d samples",
                          &accepted, &samples),
              2);
    const std::string tail = run.out.substr(summary);
    EXPECT_NE(tail.find("fitted offset parameters:    " + fitted + "\n"), std::string::npos);
    EXPECT_NE(tail.find("accepted offset estimates:   " + std::to_string(accepted) + " of " +
                        std::to_string(samples) + "\n"),
              std::string::npos);
    EXPECT_NE(tail.find("model fit std. dev.:         range "), std::string::npos);
    EXPECT_NE(tail.find("on the 512 x 512 master"), std::string::npos);
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
    const ToolRun run = run_tool(pair.args({"--overwrite", "--quiet"}));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(run.err.empty()) << run.err;
    EXPECT_FALSE(exists(pair.dir + "/pair_new.off"));
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
