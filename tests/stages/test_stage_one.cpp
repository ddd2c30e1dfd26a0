// Stage 1 on synthetic pairs with exact whole-sample shifts: the failure
// reports the fault table cannot stage, the limits of the average intensity,
// the grid and the windows, the slave placement and the sample format.
// Normal runs' output bytes are pinned by the golden tests.
#include "estimation/stage_one.h"
#include "tests/support/scratch.h"

#include <functional>
#include <unistd.h>

namespace {

using namespace scratch;

const char* const kNoPoints = "No points available for determining average intensity !";
const char* const kNoOffsets = "No offsets found above SNR threshold !";
const char* const kBadSize = "Invalid image size in xml parameter file !";

struct StageOneRun {
    bool ok = false;
    RecordingReporter reporter;
    OffsetMeasurements m;
    std::string out; // standard output
};

class StageOne : public ::testing::Test {
public:
    void SetUp() override {
        dir = fresh_test_dir();
        work = work_files_for_base(dir + "/Temp_1");
    }
    void pair(const PairSpec& p, int coarseRange = 0, int coarseAzimuth = 0) {
        files = write_pair(dir, p, coarseRange, coarseAzimuth);
        request.masterPath = files.master;
        request.slavePath = files.slave;
        request.offsetParPath = files.off;
    }
    void grid(int window, int nr, int na, double threshold = 3.0) {
        request.windowWidth = request.windowHeight = window;
        request.rangeSamples = nr;
        request.azimuthSamples = na;
        request.snrThreshold = threshold;
    }
    StageOneRun run() {
        StageOneRun r;
        ::testing::internal::CaptureStdout();
        r.ok = estimate_offsets(request, work, r.reporter, &r.m);
        r.out = ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(r.reporter.failures.size(), r.ok ? 0u : 1u); // one report per failure
        return r;
    }

    std::string dir;
    WorkFiles work;
    PairFiles files;
    RunRequest request;
};

struct FailureCase {
    const char* name;
    std::function<void(StageOne&)> spoil;
    const char* message;
};
FC_PRINTS_AS_NAME(FailureCase)

class StageOneFailure : public StageOne, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(StageOneFailure, ReportsOnceAndLeavesTheOffsetFileAsItWas) {
    pair(PairSpec{256, 256, 256, 256, 2, 1});
    grid(32, 2, 2);
    GetParam().spoil(*this);
    const std::string before = read_bytes(request.offsetParPath);
    const StageOneRun r = run();
    EXPECT_EQ(r.reporter.failures, std::vector<std::string>{GetParam().message});
    EXPECT_EQ(read_bytes(request.offsetParPath), before);
}

std::function<void(StageOne&)> xml(bool master, int width, int lines) {
    return [=](StageOne& t) {
        write_image_xml(master ? t.files.master : t.files.slave, width, lines);
    };
}

INSTANTIATE_TEST_SUITE_P(
    Stage, StageOneFailure,
    ::testing::Values(
        FailureCase{"SnrUncreatable", [](StageOne& t) { t.work.snr = t.dir + "/no/s"; },
                    "Failed to create the snr file !"},
        FailureCase{"ListingUncreatable", [](StageOne& t) { t.work.listing = t.dir + "/no/l"; },
                    "Cannot open text offsets listing file!"},
        FailureCase{"SnrFull", [](StageOne& t) { t.work.snr = "/dev/full"; },
                    "Failed to write to output snr file !"},
        FailureCase{"Master32Lines", xml(true, 256, 32), kNoPoints},
        // 33 lines hold one sampled line; the grid rows then lie outside.
        FailureCase{"Master33Lines", xml(true, 256, 33), kNoOffsets},
        // Zeros at exactly the samples the average intensity looks at.
        FailureCase{"MasterZeroWhereSampled",
                    [](StageOne& t) {
                        zero_samples(t.files.master, 256,
                                     [](int x, int y) { return y % 32 == 16 && x % 8 == 4; });
                    },
                    kNoPoints},
        // The file holds 256 lines: twice as many claimed still read, more not.
        FailureCase{"SlaveClaims513Lines", xml(false, 256, 513), kBadSize},
        FailureCase{"MasterLineLongerThanTheFile", xml(true, 256 * 256 + 1, 1), kBadSize},
        // A directory where the replacement is written beside the file.
        FailureCase{"OffFileReplacementBlocked",
                    [](StageOne& t) {
                        fs::create_directory(t.files.off + ".tmp." + std::to_string(::getpid()));
                    },
                    "Cannot open output ISP offset parameter file !"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(StageOne, SlaveClaimingTwiceItsLinesIsReadWithWarnings) {
    pair(PairSpec{256, 256, 256, 256, 2, 1}, 2, 1);
    grid(32, 2, 2);
    write_image_xml(files.slave, 256, 512);
    const StageOneRun r = run();
    EXPECT_TRUE(r.ok);
    EXPECT_NE(r.out.find("WARNING: attempt to read beyond end of SLC-2 file"), std::string::npos);
}

// Stale grid values are replaced; a polynomial with a non-zero constant term
// stays instead of the initial offsets; one position is spaced by the window.
TEST_F(StageOne, RewritesTheOffsetFileWithTheGridUsed) {
    pair(PairSpec{256, 256, 256, 256, 3, 2});
    stOffsetParInfo par = coarse_offsets(3, 2);
    par.offset_estimation_range_spacing = 7;
    par.range_offset_polynomial[0] = 1.0;
    write_off(files.off, par);
    grid(32, 1, 1, 2.5);
    request.windowHeight = 16;
    ASSERT_TRUE(run().ok);
    const stOffsetParInfo o = read_off(files.off);
    const int fields[] = {o.offset_estimation_starting_range, o.offset_estimation_range_spacing,
                          o.offset_estimation_azimuth_spacing, o.offset_estimation_window_height};
    EXPECT_EQ(std::vector<int>(std::begin(fields), std::end(fields)),
              (std::vector<int>{48, 32, 16, 16}));
    EXPECT_EQ(o.range_offset_polynomial[0], 1.0);
    EXPECT_EQ(o.azimuth_offset_polynomial[0], 0.0);
}

// Only the master's imageDataType decides the format, and only "SCOMPLEX".
TEST_F(StageOne, MasterTypeAloneDecidesTheSampleFormat) {
    for (const PairSpec& p : {PairSpec{256, 256, 256, 256, -2, 3, true, "SCOMPLEX", "FCOMPLEX"},
                              PairSpec{256, 256, 256, 256, -2, 3, false, "FCOMPLEX", "SCOMPLEX"},
                              PairSpec{256, 256, 256, 256, -2, 3, false, "scomplex", "SCOMPLEX"}}) {
        pair(p, -2, 3);
        grid(32, 2, 2);
        const StageOneRun r = run();
        ASSERT_TRUE(r.ok) << p.masterType;
        EXPECT_NEAR(r.m.rangeOffset[3], -2.0, 0.02) << p.masterType;
        EXPECT_NEAR(r.m.azimuthOffset[3], 3.0, 0.02) << p.masterType;
    }
}

// One 32 x 32 window at sample 48, line 48; the slave one at the coarse
// offset (dx, dy), which is also the true shift.
struct WindowCase {
    const char* name;
    int w1, l1, w2, l2, dx, dy;
    bool inSlave; // zeros apply to the slave, else the master
    int zeros;    // window samples set to 0, from the window's line 5 on
    bool correlated;
};
FC_PRINTS_AS_NAME(WindowCase)

class StageOneWindow : public StageOne, public ::testing::WithParamInterface<WindowCase> {};

// The window must lie inside both images, with the half window strictly
// inside at the far end, and is read without reading beyond either file;
// more than H x W / 16 zero samples in either patch skip it.
TEST_P(StageOneWindow, IsCorrelatedOnlyInsideBothImagesWithFewZeros) {
    const WindowCase& c = GetParam();
    pair(PairSpec{c.w1, c.l1, c.w2, c.l2, c.dx, c.dy}, c.dx, c.dy);
    grid(32, 1, 1);
    const int x0 = 32 + (c.inSlave ? c.dx : 0), y0 = 37 + (c.inSlave ? c.dy : 0);
    zero_samples(c.inSlave ? files.slave : files.master, c.inSlave ? c.w2 : c.w1,
                 [&](int x, int y) {
                     return x >= x0 && x < x0 + 32 && y >= y0 && (y - y0) * 32 + (x - x0) < c.zeros;
                 });
    const StageOneRun r = run();
    EXPECT_EQ(r.ok, c.correlated);
    ASSERT_EQ(r.m.snr.size(), 1u) << r.reporter.failures[0];
    EXPECT_EQ(r.m.snr[0] == 0.0f, !c.correlated);
    EXPECT_NEAR(r.m.rangeOffset[0], c.correlated ? c.dx : 0.0, 0.02);
    EXPECT_NEAR(r.m.azimuthOffset[0], c.correlated ? c.dy : 0.0, 0.02);
    EXPECT_EQ(r.out.find("attempt to read beyond end"), std::string::npos) << r.out;
}

INSTANTIATE_TEST_SUITE_P(
    Stage, StageOneWindow,
    ::testing::Values(WindowCase{"Master64Zeros", 256, 256, 256, 256, 2, 1, 0, 64, 1},
                      WindowCase{"Master65Zeros", 256, 256, 256, 256, 2, 1, 0, 65, 0},
                      WindowCase{"Slave64Zeros", 256, 256, 256, 256, 2, 1, 1, 64, 1},
                      WindowCase{"Slave65Zeros", 256, 256, 256, 256, 2, 1, 1, 65, 0},
                      WindowCase{"Master65Wide", 65, 256, 256, 256, 0, 0, 0, 0, 1},
                      WindowCase{"Master64Wide", 64, 256, 256, 256, 0, 0, 0, 0, 0},
                      WindowCase{"Master65Lines", 256, 65, 256, 256, 0, 0, 0, 0, 1},
                      WindowCase{"Master64Lines", 256, 64, 256, 256, 0, 0, 0, 0, 0},
                      WindowCase{"Slave67Wide", 256, 256, 67, 256, 2, 0, 0, 0, 1},
                      WindowCase{"Slave66Wide", 256, 256, 66, 256, 2, 0, 0, 0, 0},
                      WindowCase{"Slave67Lines", 256, 256, 256, 67, 0, 2, 0, 0, 1},
                      WindowCase{"Slave66Lines", 256, 256, 256, 66, 0, 2, 0, 0, 0},
                      WindowCase{"SlaveAtSample0", 256, 256, 256, 256, -32, 0, 0, 0, 1},
                      WindowCase{"SlaveBeforeSample0", 256, 256, 256, 256, -33, 0, 0, 0, 0},
                      WindowCase{"SlaveAtLine0", 256, 256, 256, 256, 0, -32, 0, 0, 1},
                      WindowCase{"SlaveBeforeLine0", 256, 256, 256, 256, 0, -33, 0, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// The slave patch is placed at the rounded polynomial offsets, the azimuth
// one taken at the master's centre sample (127.5): the run must equal one
// with those integers as coefficients, and differ from the neighbouring one.
TEST_F(StageOne, SlavePatchIsPlacedAtOffsetsRoundedHalfAwayFromZero) {
    const struct {
        double c0Range, c0Azimuth, c1Azimuth; // read from the off file
        int range, azimuth;                   // the whole-sample placement they must give
    } cases[] = {{2.5, -2.5, 0.0, 3, -3},
                 {2.49, -2.49, 0.0, 2, -2},
                 {-0.4, 0.4, 0.0, 0, 0},
                 {2.5, -10.46875, 0.0625, 3, -3}}; // -10.46875 + 127.5 / 16 = -2.5 exactly
    pair(PairSpec{256, 256, 256, 256, 3, -3});
    grid(32, 1, 1);
    auto snr_with = [&](double c0Range, double c0Azimuth, double c1Azimuth) {
        stOffsetParInfo par{};
        par.range_offset_polynomial[0] = c0Range;
        par.azimuth_offset_polynomial[0] = c0Azimuth;
        par.azimuth_offset_polynomial[1] = c1Azimuth;
        write_off(files.off, par);
        return run().m.snr[0];
    };
    for (const auto& c : cases) {
        const float rounded = snr_with(c.c0Range, c.c0Azimuth, c.c1Azimuth);
        EXPECT_EQ(rounded, snr_with(c.range, c.azimuth, 0.0)) << c.c0Range;
        EXPECT_NE(rounded, snr_with(c.range - 1, c.azimuth + 1, 0.0)) << c.c0Range;
    }
}

TEST_F(StageOne, SnrEqualToTheThresholdIsWrittenButNotAccepted) {
    pair(PairSpec{256, 256, 256, 256, 2, 1});
    grid(32, 1, 1, 0.0);
    const float s = run().m.snr[0];
    request.snrThreshold = s;
    EXPECT_EQ(run().reporter.failures, std::vector<std::string>{kNoOffsets});
    EXPECT_EQ(read_values<float>(work.snr), std::vector<float>{s});
    request.snrThreshold = std::nextafter(static_cast<double>(s), 0.0);
    EXPECT_TRUE(run().ok);
}

// A constant master patch clips to a constant intensity: the correlation
// surface is zero and the peak search fails. Even a negative threshold must
// not accept that position.
TEST_F(StageOne, FailedPeakSearchIsNotAcceptedUnderNegativeThreshold) {
    pair(PairSpec{256, 240, 256, 240, 2, 1}, 2, 1); // rows at lines 48 and 192
    std::vector<fcomplex> master = read_values<fcomplex>(files.master);
    for (int y = 184; y < 200; y++) // sampled lines miss 184..199
        for (int x = 40; x < 56; x++)
            master[y * 256 + x] = {1000.0f, 0.0f};
    write_values(files.master, master);
    grid(16, 1, 2, -1.0);
    const StageOneRun r = run();
    EXPECT_EQ(r.m.snr[1], 0.0f);
    EXPECT_EQ(r.m.accepted, (std::vector<unsigned char>{1, 0}));
}

} // namespace
