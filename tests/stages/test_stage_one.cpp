// Stage 1 on synthetic pairs with exact whole-sample shifts: failure reports,
// the average intensity, the grid, where the windows may lie, the work files
// and the measurements it returns.
#include "estimation/stage_one.h"
#include "tests/support/scratch.h"

#include <functional>
#include <sstream>
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
    std::string out;
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
        EXPECT_EQ(r.reporter.failures.size(), r.ok ? 0u : 1u);
        return r;
    }

    std::string dir;
    WorkFiles work;
    PairFiles files;
    RunRequest request;
};

// ---------------------------------------------------------------- failures

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
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.reporter.failures, std::vector<std::string>{GetParam().message});
    EXPECT_EQ(read_bytes(request.offsetParPath), before);
}

std::function<void(StageOne&)> xml(bool master, int width, int lines) {
    return [=](StageOne& t) {
        write_image_xml(master ? t.files.master : t.files.slave, width, lines);
    };
}
// Zeros at exactly the samples the average intensity looks at.
std::function<void(StageOne&)> zero_sampled(bool master) {
    return [=](StageOne& t) {
        zero_samples(master ? t.files.master : t.files.slave, 256,
                     [](int x, int y) { return y % 32 == 16 && x % 8 == 4; });
    };
}

INSTANTIATE_TEST_SUITE_P(
    Stage, StageOneFailure,
    ::testing::Values(
        FailureCase{"MissingMaster", [](StageOne& t) { t.request.masterPath += "x"; },
                    "Failed to open the master image !"},
        FailureCase{"MissingSlave", [](StageOne& t) { t.request.slavePath += "x"; },
                    "Failed to open the slave image !"},
        // pair.off exists, but no pair.xml beside it.
        FailureCase{"MissingMasterXml", [](StageOne& t) { t.request.masterPath = t.files.off; },
                    "Open xml parameter file error!"},
        FailureCase{"MissingSlaveXml", [](StageOne& t) { t.request.slavePath = t.files.off; },
                    "Open xml parameter file error!"},
        FailureCase{"MissingOffFile", [](StageOne& t) { t.request.offsetParPath += "x"; },
                    "Failed to open the off file !"},
        FailureCase{"OffFileIsADirectory", [](StageOne& t) { t.request.offsetParPath = t.dir; },
                    "Failed to open the off file !"},
        FailureCase{"OffsetsUncreatable", [](StageOne& t) { t.work.offsets = t.dir + "/no/o"; },
                    "Failed to create the offsets file !"},
        FailureCase{"SnrUncreatable", [](StageOne& t) { t.work.snr = t.dir + "/no/s"; },
                    "Failed to create the snr file !"},
        FailureCase{"ListingUncreatable", [](StageOne& t) { t.work.listing = t.dir + "/no/l"; },
                    "Cannot open text offsets listing file!"},
        FailureCase{"OffsetsFull", [](StageOne& t) { t.work.offsets = "/dev/full"; },
                    "Failed to write to output offsets file !"},
        FailureCase{"SnrFull", [](StageOne& t) { t.work.snr = "/dev/full"; },
                    "Failed to write to output snr file !"},
        FailureCase{"Master32Lines", xml(true, 256, 32), kNoPoints},
        // 33 lines hold one sampled line; the grid rows then lie outside.
        FailureCase{"Master33Lines", xml(true, 256, 33), kNoOffsets},
        FailureCase{"Slave32Lines", xml(false, 256, 32), kNoPoints},
        FailureCase{"MasterZeroWhereSampled", zero_sampled(true), kNoPoints},
        FailureCase{"SlaveZeroWhereSampled", zero_sampled(false), kNoPoints},
        FailureCase{"ThresholdNeverReached", [](StageOne& t) { t.request.snrThreshold = 1e9; },
                    kNoOffsets},
        // 162 columns over the 160 samples between the margins: spacing 0.
        FailureCase{"GridDenserThanTheImage", [](StageOne& t) { t.request.rangeSamples = 162; },
                    "Number of offset estimates in range or azimuth exceeds the image size !"},
        // The file holds 256 lines: twice as many claimed still read, more not.
        FailureCase{"SlaveClaims513Lines", xml(false, 256, 513), kBadSize},
        FailureCase{"MasterLineLongerThanTheFile", xml(true, 256 * 256 + 1, 1), kBadSize},
        FailureCase{"MasterWithoutColumns", xml(true, 0, 256), kBadSize},
        FailureCase{"SlaveWithoutLines", xml(false, 256, 0), kBadSize},
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

// ------------------------------------------------------- output and layout

// Coarse azimuth offset 40: the slave lines of the last row (208 + 40 + 16)
// lie beyond the slave, so that row stays zero.
TEST_F(StageOne, WorkFilesHoldRowsInGridOrderAndListAcceptedPositions) {
    pair(PairSpec{256, 256, 256, 256, 3, 40}, 3, 40);
    grid(32, 3, 3);
    const StageOneRun r = run();
    ASSERT_TRUE(r.ok);
    // Before each measured position: k / 9 of the grid plus a thousandth.
    const double percent[] = {0.1,           11.2111111111, 22.3222222222,
                              33.4333333333, 44.5444444444, 55.6555555556};
    ASSERT_EQ(r.reporter.percent.size(), 6u);
    for (int k = 0; k < 6; k++)
        EXPECT_NEAR(r.reporter.percent[k], percent[k], 1e-9);
    const std::vector<fcomplex> offsets = read_values<fcomplex>(work.offsets);
    const std::vector<float> snr = read_values<float>(work.snr);
    ASSERT_EQ(offsets.size(), 9u);
    ASSERT_EQ(snr.size(), 9u);
    EXPECT_EQ(r.m.acceptedCount, 6);
    std::istringstream listing(read_bytes(work.listing));
    for (int k = 0; k < 9; k++) {
        EXPECT_EQ(r.m.rangeOffset[k], offsets[k].re);
        EXPECT_EQ(r.m.azimuthOffset[k], offsets[k].im);
        EXPECT_EQ(r.m.snr[k], snr[k]);
        EXPECT_EQ(r.m.accepted[k], k < 6);
        if (k >= 6) {
            EXPECT_EQ(offsets[k].re + offsets[k].im + snr[k], 0.0f);
            continue;
        }
        EXPECT_NEAR(offsets[k].re, 3.0, 0.02);
        EXPECT_NEAR(offsets[k].im, 40.0, 0.02);
        double x, y, range, azimuth, s;
        ASSERT_TRUE(listing >> x >> y >> range >> azimuth >> s);
        EXPECT_EQ(x, 48 + k % 3 * 80);
        EXPECT_EQ(y, 48 + k / 3 * 80);
        EXPECT_NEAR(range, offsets[k].re, 0.5e-4);
        EXPECT_NEAR(azimuth, offsets[k].im, 0.5e-4);
        EXPECT_NEAR(s, snr[k], 0.5e-3 * (1 + s * 1e-4));
    }
    std::string rest;
    EXPECT_FALSE(listing >> rest);
}

struct GridCase {
    const char* name;
    int na, nr, width, height;
    double c0Range, c0Azimuth;       // in the input file
    double startRange, startAzimuth; // expected after the stage
    int azimuthSpacing, rangeSpacing;
};
FC_PRINTS_AS_NAME(GridCase)

class StageOneGrid : public StageOne, public ::testing::WithParamInterface<GridCase> {};

// The rewritten file is the input record with the grid and the run's
// settings; only when both constant terms were zero do the initial offsets
// become the start values.
TEST_P(StageOneGrid, RewritesTheOffsetFileWithTheGridUsed) {
    const GridCase& g = GetParam();
    pair(PairSpec{256, 256, 256, 256, 3, 2});
    stOffsetParInfo par = coarse_offsets(3, 2);
    par.number_of_slc_range_pixels = 4242;
    par.offset_estimation_starting_range = 5; // stale grid values are replaced
    par.offset_estimation_range_spacing = 7;
    par.offset_estimation_threshhold = 99.0;
    par.range_offset_polynomial[0] = g.c0Range;
    par.range_offset_polynomial[2] = 1e-6;
    par.azimuth_offset_polynomial[0] = g.c0Azimuth;
    write_off(files.off, par);
    grid(g.width, g.nr, g.na, 2.5);
    request.windowHeight = g.height;
    const StageOneRun r = run();
    ASSERT_TRUE(r.ok);

    const stOffsetParInfo o = read_off(files.off);
    EXPECT_EQ(o.number_of_slc_range_pixels + o.initial_range_offset, 4242 + 3);
    const int fields[] = {o.offset_estimation_starting_range,   o.offset_estimation_ending_range,
                          o.offset_estimation_range_samples,    o.offset_estimation_range_spacing,
                          o.offset_estimation_starting_azimuth, o.offset_estimation_ending_azimuth,
                          o.offset_estimation_azimuth_samples,  o.offset_estimation_azimuth_spacing,
                          o.offset_estimation_window_width,     o.offset_estimation_window_height};
    EXPECT_EQ(std::vector<int>(std::begin(fields), std::end(fields)),
              (std::vector<int>{48, 208, g.nr, g.rangeSpacing, 48, 208, g.na, g.azimuthSpacing,
                                g.width, g.height}));
    EXPECT_EQ(o.offset_estimation_threshhold, 2.5);
    EXPECT_EQ(o.range_offset_polynomial[0], g.startRange);
    EXPECT_EQ(o.range_offset_polynomial[2], 1e-6);
    EXPECT_EQ(o.azimuth_offset_polynomial[0], g.startAzimuth);
    EXPECT_EQ(r.m.grid.rangeSpacing + r.m.grid.azimuthSpacing, g.rangeSpacing + g.azimuthSpacing);
}

INSTANTIATE_TEST_SUITE_P(
    Stage, StageOneGrid,
    ::testing::Values(GridCase{"InitialOffsetsStart", 3, 3, 32, 32, 0, 0, 3, 2, 80, 80},
                      GridCase{"OnePositionSpacedByTheWindow", 1, 1, 32, 16, 1, 0, 1, 0, 16, 32},
                      GridCase{"PolynomialKept", 2, 4, 16, 32, 0, -1, 0, -1, 160, 53}),
    [](const auto& info) { return std::string(info.param.name); });

// ------------------------------------------------------------ measurement

struct MeasureCase {
    const char* name;
    int dx, dy;
    bool coarse;   // the off file holds the shift as initial offset
    bool scomplex; // the files hold SCOMPLEX samples
    const char* masterType;
    const char* slaveType;
};
FC_PRINTS_AS_NAME(MeasureCase)

class StageOneMeasure : public StageOne, public ::testing::WithParamInterface<MeasureCase> {};

// With the coarse offset both patches hold the same samples and the peak is
// exact. Without it they overlap only in part, which pulls the circular
// correlation's peak towards zero by up to about 0.05 samples for shifts of
// 5. Only the master's imageDataType decides the format, and only "SCOMPLEX".
TEST_P(StageOneMeasure, RecoversWholeSampleAndLineShifts) {
    const MeasureCase& c = GetParam();
    PairSpec p{256, 256, 256, 256, c.dx, c.dy};
    p.scomplex = c.scomplex;
    p.masterType = c.masterType;
    p.slaveType = c.slaveType;
    pair(p, c.coarse ? c.dx : 0, c.coarse ? c.dy : 0);
    grid(32, 3, 3);
    const StageOneRun r = run();
    ASSERT_TRUE(r.ok);
    const double tolerance = c.coarse || (c.dx == 0 && c.dy == 0) ? 0.02 : 0.06;
    for (int k = 0; k < 9; k++) {
        EXPECT_GT(r.m.snr[k], 3.0f) << k;
        EXPECT_NEAR(r.m.rangeOffset[k], c.dx, tolerance) << k;
        EXPECT_NEAR(r.m.azimuthOffset[k], c.dy, tolerance) << k;
    }
}

const char* const kF = "FCOMPLEX";
const char* const kS = "SCOMPLEX";

INSTANTIATE_TEST_SUITE_P(
    Stage, StageOneMeasure,
    ::testing::Values(MeasureCase{"NoShift", 0, 0, false, false, kF, kF},
                      MeasureCase{"Shift3m2", 3, -2, false, false, kF, kF},
                      MeasureCase{"Shiftm5p4", -5, 4, false, false, kF, kF},
                      MeasureCase{"Coarse17m23", 17, -23, true, false, kF, kF},
                      MeasureCase{"Scomplex", -2, 3, true, true, kS, kS},
                      MeasureCase{"ScomplexSlaveSaysFcomplex", -2, 3, true, true, kS, kF},
                      MeasureCase{"FcomplexSlaveSaysScomplex", -2, 3, true, false, kF, kS},
                      MeasureCase{"LowerCaseIsFcomplex", -2, 3, true, false, "scomplex", kS}),
    [](const auto& info) { return std::string(info.param.name); });

// One 32 x 32 window at sample 48, line 48; the slave one at the coarse
// offset (dx, dy), which is also the true shift.
struct WindowCase {
    const char* name;
    int w1, l1, w2, l2, dx, dy;
    bool inSlave;    // zeros and truncation apply to the slave, else the master
    int zeros;       // window samples set to 0, from the window's line 5 on
    int keptLines;   // when > 0, the image file is cut after this many lines
    int keptSamples; // and samples
    int gridWarnings;
    bool correlated;
};
FC_PRINTS_AS_NAME(WindowCase)

class StageOneWindow : public StageOne, public ::testing::WithParamInterface<WindowCase> {};

// The window must lie inside both images, with the half window strictly
// inside at the far end; more than H x W / 16 zero samples in either patch
// skip it. An image shorter than its XML says warns at every read beyond its
// end and reads zeros there.
TEST_P(StageOneWindow, IsCorrelatedOnlyInsideBothImagesWithFewZeros) {
    const WindowCase& c = GetParam();
    PairSpec p{256, 256, 256, 256, c.dx, c.dy};
    p.w1 = c.w1;
    p.l1 = c.l1;
    p.w2 = c.w2;
    p.l2 = c.l2;
    pair(p, c.dx, c.dy);
    grid(32, 1, 1);
    const std::string image = c.inSlave ? files.slave : files.master;
    const int width = c.inSlave ? c.w2 : c.w1;
    const int x0 = 32 + (c.inSlave ? c.dx : 0), y0 = 32 + (c.inSlave ? c.dy : 0);
    zero_samples(image, width, [&](int x, int y) {
        return x >= x0 && x < x0 + 32 && y >= y0 + 5 && (y - y0 - 5) * 32 + (x - x0) < c.zeros;
    });
    if (c.keptLines > 0) {
        fs::resize_file(image, (c.keptLines * width + c.keptSamples) * 8);
    }
    const StageOneRun r = run();
    EXPECT_EQ(r.ok, c.correlated);
    ASSERT_EQ(r.m.snr.size(), 1u) << r.reporter.failures[0];
    EXPECT_EQ(r.m.snr[0] > 3.0f, c.correlated);
    EXPECT_EQ(r.m.snr[0] == 0.0f, !c.correlated);
    EXPECT_NEAR(r.m.rangeOffset[0], c.correlated ? c.dx : 0.0, 0.02);
    EXPECT_NEAR(r.m.azimuthOffset[0], c.correlated ? c.dy : 0.0, 0.02);
    // The average intensity reads one line past the end (80), the window
    // gridWarnings more.
    const std::string warning =
        std::string("attempt to read beyond end of SLC-") + (c.inSlave ? "2" : "1");
    int warnings = 0;
    for (std::size_t at = r.out.find(warning); at != std::string::npos;
         at = r.out.find(warning, at + 1))
        warnings++;
    EXPECT_EQ(warnings, (c.keptLines > 0 ? 1 : 0) + c.gridWarnings) << r.out;
}

INSTANTIATE_TEST_SUITE_P(
    Stage, StageOneWindow,
    ::testing::Values(WindowCase{"Master64Zeros", 256, 256, 256, 256, 2, 1, 0, 64, 0, 0, 0, 1},
                      WindowCase{"Master65Zeros", 256, 256, 256, 256, 2, 1, 0, 65, 0, 0, 0, 0},
                      WindowCase{"Slave64Zeros", 256, 256, 256, 256, 2, 1, 1, 64, 0, 0, 0, 1},
                      WindowCase{"Slave65Zeros", 256, 256, 256, 256, 2, 1, 1, 65, 0, 0, 0, 0},
                      WindowCase{"Master65Wide", 65, 256, 256, 256, 0, 0, 0, 0, 0, 0, 0, 1},
                      WindowCase{"Master64Wide", 64, 256, 256, 256, 0, 0, 0, 0, 0, 0, 0, 0},
                      WindowCase{"Master65Lines", 256, 65, 256, 256, 0, 0, 0, 0, 0, 0, 0, 1},
                      WindowCase{"Master64Lines", 256, 64, 256, 256, 0, 0, 0, 0, 0, 0, 0, 0},
                      WindowCase{"Slave67Wide", 256, 256, 67, 256, 2, 0, 0, 0, 0, 0, 0, 1},
                      WindowCase{"Slave66Wide", 256, 256, 66, 256, 2, 0, 0, 0, 0, 0, 0, 0},
                      WindowCase{"Slave67Lines", 256, 256, 256, 67, 0, 2, 0, 0, 0, 0, 0, 1},
                      WindowCase{"Slave66Lines", 256, 256, 256, 66, 0, 2, 0, 0, 0, 0, 0, 0},
                      WindowCase{"SlaveAtSample0", 256, 256, 256, 256, -32, 0, 0, 0, 0, 0, 0, 1},
                      WindowCase{"SlaveBeforeSample0", 256, 256, 256, 256, -33, 0, 0, 0, 0, 0, 0,
                                 0},
                      WindowCase{"SlaveAtLine0", 256, 256, 256, 256, 0, -32, 0, 0, 0, 0, 0, 1},
                      WindowCase{"SlaveBeforeLine0", 256, 256, 256, 256, 0, -33, 0, 0, 0, 0, 0, 0},
                      // Files of 100 lines cut short; the master window covers lines
                      // 32..63, the slave's 33..64.
                      WindowCase{"MasterLast2Lines", 256, 100, 256, 100, 2, 1, 0, 0, 61, 40, 3, 0},
                      WindowCase{"SlaveLast2Lines", 256, 100, 256, 100, 2, 1, 1, 0, 62, 40, 3, 0},
                      WindowCase{"SlaveLastLine", 256, 100, 256, 100, 2, 1, 1, 0, 64, 0, 1, 1}),
    [](const auto& info) { return std::string(info.param.name); });

struct RoundingCase {
    const char* name;
    double c0Range, c0Azimuth, c1Azimuth; // read from the off file
    int range, azimuth;                   // the whole-sample placement they must give
};
FC_PRINTS_AS_NAME(RoundingCase)

class StageOneRounding : public StageOne, public ::testing::WithParamInterface<RoundingCase> {};

// The slave patch is placed at the rounded polynomial offsets, the azimuth
// one taken at the master's centre sample (127.5): the run must equal one
// with those integers as coefficients, and differ from the neighbouring one.
TEST_P(StageOneRounding, SlavePatchIsPlacedAtOffsetsRoundedHalfAwayFromZero) {
    const RoundingCase& c = GetParam();
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
    const float rounded = snr_with(c.c0Range, c.c0Azimuth, c.c1Azimuth);
    EXPECT_EQ(rounded, snr_with(c.range, c.azimuth, 0.0));
    EXPECT_NE(rounded, snr_with(c.range - 1, c.azimuth + 1, 0.0));
}

INSTANTIATE_TEST_SUITE_P(Stage, StageOneRounding,
                         ::testing::Values(RoundingCase{"Halves", 2.5, -2.5, 0.0, 3, -3},
                                           RoundingCase{"BelowHalves", 2.49, -2.49, 0.0, 2, -2},
                                           RoundingCase{"TowardsZero", -0.4, 0.4, 0.0, 0, 0},
                                           // -10.46875 + 127.5 / 16 = -2.5 exactly
                                           RoundingCase{"AtCentreSample", 2.5, -10.46875, 0.0625, 3,
                                                        -3}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(StageOne, SnrEqualToTheThresholdIsWrittenButNotAccepted) {
    pair(PairSpec{256, 256, 256, 256, 2, 1});
    grid(32, 1, 1, 0.0);
    const float s = run().m.snr[0];
    request.snrThreshold = s;
    const StageOneRun equal = run();
    EXPECT_EQ(equal.reporter.failures, std::vector<std::string>{kNoOffsets});
    EXPECT_EQ(read_values<float>(work.snr), std::vector<float>{s});
    EXPECT_EQ(read_bytes(work.offsets), std::string(8, '\0'));
    EXPECT_EQ(read_bytes(work.listing), "");
    request.snrThreshold = std::nextafter(static_cast<double>(s), 0.0);
    EXPECT_TRUE(run().ok);
}

// A constant master patch clips to a constant intensity: the correlation
// surface is zero and the peak search fails. Even a negative threshold must
// not accept that position.
TEST_F(StageOne, FailedPeakSearchIsNotAcceptedUnderNegativeThreshold) {
    PairSpec p = PairSpec{256, 256, 256, 256, 2, 1};
    p.l1 = p.l2 = 240; // rows at lines 48 and 192; sampled lines miss 184..199
    pair(p, 2, 1);
    std::vector<fcomplex> master = read_values<fcomplex>(files.master);
    for (int y = 184; y < 200; y++)
        for (int x = 40; x < 56; x++)
            master[y * 256 + x] = {1000.0f, 0.0f};
    write_values(files.master, master);
    grid(16, 1, 2, -1.0);
    const StageOneRun r = run();
    ASSERT_TRUE(r.ok);
    EXPECT_NEAR(r.m.rangeOffset[0], 2.0, 0.02);
    EXPECT_EQ(r.m.snr[1], 0.0f);
    EXPECT_EQ(r.m.rangeOffset[1], 0.0f);
    EXPECT_EQ(r.m.accepted, (std::vector<unsigned char>{1, 0}));
}

} // namespace
