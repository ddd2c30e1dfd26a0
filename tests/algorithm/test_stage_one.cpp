// Stage 1 on synthetic pairs: failure reports, diagnostics, work-file and
// offset-file layouts, sample formats, the no-data rule, placement of the
// slave patch, 64-bit file positions and reads at the end of an image.
#include "synthetic_pair.h"

#include <fcntl.h>
#include <functional>
#include <memory>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

using Record = stFineCoregistrationInfo;

const char* const kNoPoints = "No points available for determining average intensity !";
const char* const kNoOffsets = "No offsets found above SNR threshold !";
const char* const kWarn1 = "WARNING: attempt to read beyond end of SLC-1 file\n\n";
const char* const kWarn2 = "\nWARNING: attempt to read beyond end of SLC-2 file\n\n";
// Offset parameter files carry no title keyword.
const std::string kNoTitle = "WARNING: subroutine rd_str, keyword not found: title\n";
// The oversampling filter's set-up lines for a 32 x 32 window.
const std::string kFilter32 =
    "interp. filter bandwidth:      0.500  FIR length: 9\n"
    "bp_filter: bw:  3.1416  wc:  0.0000  nfft: 64  nps: 9   Kaiser beta:   0.500\n"
    "bp_filter: bw:  3.1416  wc:  0.0000  nfft: 64  nps: 9   Kaiser beta:   0.500\n";

struct StageOneRun {
    bool ok = false;
    std::vector<std::pair<int, QString>> posted;
    std::string out;
    std::vector<fcomplex> offsets;
    std::vector<float> snr;
    std::string listing;
};

// Mean intensity over lines 16, 48, ... and samples 4, 12, ..., exact zeros
// skipped; a line the file does not hold completely counts as zeros.
double sampled_average(const std::string& path, int width, int lines, bool scomplex) {
    const std::vector<float> f = read_values<float>(path);
    const std::vector<std::int16_t> s = read_values<std::int16_t>(path);
    const std::size_t parts = scomplex ? s.size() : f.size(); // two per sample
    double sum = 0.0;
    int count = 0;
    for (int y = 16; y < lines - 16; y += 32) {
        if (2 * (y + 1) * static_cast<std::size_t>(width) > parts)
            continue;
        for (int x = 4; x < width - 4; x += 8) {
            const std::size_t k = 2 * (static_cast<std::size_t>(y) * width + x);
            const double re = scomplex ? static_cast<float>(s[k] * 0.001) : f[k];
            const double im = scomplex ? static_cast<float>(s[k + 1] * 0.001) : f[k + 1];
            if (re != 0.0 || im != 0.0) {
                sum += re * re + im * im;
                count++;
            }
        }
    }
    return sum / count;
}

std::string average_line(double average) {
    char line[96];
    std::snprintf(line, sizeof line, "average image 1 intensity: %10.3e  clip1: %10.3e\n", average,
                  5.0 * average);
    return line;
}

// Sets to zero the samples of an FCOMPLEX image for which pick(x, y) holds.
template <class Pick> void zero_samples(const std::string& path, int width, Pick pick) {
    std::vector<fcomplex> image = read_complex_file(path);
    for (std::size_t k = 0; k < image.size(); k++)
        if (pick(static_cast<int>(k % width), static_cast<int>(k / width)))
            image[k] = {0.0f, 0.0f};
    ASSERT_TRUE(write_complex_image(path, image));
}

PairSpec shifted(int dx, int dy) {
    PairSpec p;
    p.dx = dx;
    p.dy = dy;
    return p;
}

class StageOne : public ::testing::Test {
public:
    void SetUp() override {
        dir = fresh_test_dir();
        offs = dir + "/Temp_1_offs";
        snr = dir + "/Temp_1_snr";
        listing = dir + "/Temp_1_offsets.txt";
    }

    void pair(const PairSpec& p, int coarseRange = 0, int coarseAzimuth = 0) {
        files = write_pair(dir, p, coarseRange, coarseAzimuth);
    }
    Record record(int window, int nr, int na, double threshold = 3.0) const {
        return run_record(files.master, files.slave, files.off, window, nr, na, threshold);
    }
    // The offset parameter file's text for par, as the stage writes it.
    std::string rendered(const stOffsetParInfo& par) const {
        EXPECT_TRUE(write_offset_file(dir + "/rendered.off", par));
        return read_file_bytes(dir + "/rendered.off");
    }

    StageOneRun run(Record info) {
        RecordingCoregistration algo;
        StageOneRun r;
        ::testing::internal::CaptureStdout();
        r.ok = FineCoregistrationTestAccess::offset_pwr(algo, info, offs, snr, listing);
        r.out = ::testing::internal::GetCapturedStdout();
        r.posted = algo.posted;
        // Work files replaced by /dev/full for a test are not read back.
        if (offs.rfind("/dev/", 0) != 0)
            r.offsets = read_complex_file(offs);
        if (snr.rfind("/dev/", 0) != 0)
            r.snr = read_float_file(snr);
        r.listing = read_file_bytes(listing);
        return r;
    }

    std::string dir, offs, snr, listing;
    PairFiles files;
};

// ---------------------------------------------------------------- failures

using Spoil = std::function<void(StageOne&, Record&)>;

struct FailureCase {
    const char* name;
    Spoil spoil;
    const char* message;
};

class StageOneFailure : public StageOne, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(StageOneFailure, Reports110AndLeavesTheOffsetFileAsItWas) {
    pair(shifted(2, 1));
    Record info = record(32, 2, 2);
    GetParam().spoil(*this, info);
    const std::string off = info.offsetParPath.toStdString();
    const std::string before = read_file_bytes(off);

    const StageOneRun r = run(info);
    EXPECT_FALSE(r.ok);
    ASSERT_EQ(r.posted.size(), 1u);
    EXPECT_EQ(r.posted[0].first, 110);
    EXPECT_EQ(r.posted[0].second.toStdString(), GetParam().message);
    EXPECT_EQ(read_file_bytes(off), before);
}

enum Slot { kMaster, kSlave, kOff, kOffs, kSnr, kListing };

// Gives the run another file for slot: name in the test directory, or an
// absolute path.
Spoil use(Slot slot, const std::string& name) {
    return [=](StageOne& t, Record& i) {
        const std::string path = name[0] == '/' ? name : t.dir + "/" + name;
        QString* const input[] = {&i.masterImagePath, &i.slaveImagePath, &i.offsetParPath};
        std::string* const work[] = {&t.offs, &t.snr, &t.listing};
        if (slot <= kOff)
            *input[slot] = QString::fromStdString(path);
        else
            *work[slot - kOffs] = path;
    };
}
Spoil xml(Slot slot, int width, int lines) {
    return [=](StageOne& t, Record&) {
        ASSERT_TRUE(write_image_xml(slot == kMaster ? t.files.master : t.files.slave, width, lines,
                                    "FCOMPLEX"));
    };
}
// Zeros at exactly the samples the average intensity looks at.
Spoil zero_sampled(Slot slot) {
    return [=](StageOne& t, Record&) {
        zero_samples(slot == kMaster ? t.files.master : t.files.slave, 256,
                     [](int x, int y) { return y % 32 == 16 && x % 8 == 4; });
    };
}

const char* const kOpenXml = "Open xml parameter file error!";
const char* const kOpenOff = "Failed to open the off file !";

INSTANTIATE_TEST_SUITE_P(
    Stage, StageOneFailure,
    ::testing::Values(
        FailureCase{"MissingMaster", use(kMaster, "none.slc"), "Failed to open the master image !"},
        FailureCase{"MissingSlave", use(kSlave, "none.slc"), "Failed to open the slave image !"},
        // pair.off exists, but no pair.xml beside it.
        FailureCase{"MissingMasterXml", use(kMaster, "pair.off"), kOpenXml},
        FailureCase{"MissingSlaveXml", use(kSlave, "pair.off"), kOpenXml},
        FailureCase{"MissingOffFile", use(kOff, "none.off"), kOpenOff},
        // A directory opens for reading on POSIX systems, but is no file.
        FailureCase{"OffFileIsDirectory", use(kOff, "."), kOpenOff},
        FailureCase{"OffsetsFileUncreatable", use(kOffs, "none/offs"),
                    "Failed to create the offsets file !"},
        FailureCase{"SnrFileUncreatable", use(kSnr, "none/snr"), "Failed to create the snr file !"},
        FailureCase{"ListingUncreatable", use(kListing, "none/offsets.txt"),
                    "Cannot open text offsets listing file!"},
        FailureCase{"Master32Lines", xml(kMaster, 256, 32), kNoPoints},
        // 33 lines give one sampled line; the grid row then lies outside.
        FailureCase{"Master33Lines", xml(kMaster, 256, 33), kNoOffsets},
        FailureCase{"MasterZeroWhereSampled", zero_sampled(kMaster), kNoPoints},
        FailureCase{"Slave32Lines", xml(kSlave, 256, 32), kNoPoints},
        FailureCase{"SlaveZeroWhereSampled", zero_sampled(kSlave), kNoPoints},
        FailureCase{"ThresholdNeverReached", [](StageOne&, Record& i) { i.snrThreshold = 1e9; },
                    kNoOffsets},
        FailureCase{"OffsetsFileFull", use(kOffs, "/dev/full"),
                    "Failed to write to output offsets file !"},
        FailureCase{"SnrFileFull", use(kSnr, "/dev/full"), "Failed to write to output snr file !"},
        // A directory where the replacement is written beside the file.
        FailureCase{
            "OffFileReplacementBlocked",
            [](StageOne& t, Record&) {
                ASSERT_EQ(
                    ::mkdir((t.files.off + ".tmp." + std::to_string(::getpid())).c_str(), 0755), 0);
            },
            "Cannot open output ISP offset parameter file !"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(StageOne, SnrEqualToTheThresholdIsWrittenButNotAccepted) {
    pair(shifted(2, 1));
    const StageOneRun first = run(record(32, 1, 1, 0.0));
    ASSERT_TRUE(first.ok);
    ASSERT_EQ(first.snr.size(), 1u);
    const double s = first.snr[0];

    const StageOneRun equal = run(record(32, 1, 1, s));
    EXPECT_FALSE(equal.ok);
    ASSERT_EQ(equal.posted.size(), 1u);
    EXPECT_EQ(equal.posted[0].second.toStdString(), kNoOffsets);
    ASSERT_EQ(equal.snr.size(), 1u);
    EXPECT_EQ(equal.snr[0], first.snr[0]);
    EXPECT_EQ(equal.offsets[0].re, 0.0f);
    EXPECT_EQ(equal.offsets[0].im, 0.0f);
    EXPECT_EQ(equal.listing, "");

    EXPECT_TRUE(run(record(32, 1, 1, std::nextafter(s, 0.0))).ok);
}

// A constant master patch clips to a constant intensity: the correlation
// surface is zero and the peak search fails. Even a negative threshold must
// not accept that position.
TEST_F(StageOne, FailedPeakSearchIsNotAcceptedUnderNegativeThreshold) {
    PairSpec p = shifted(2, 1);
    p.l1 = p.l2 = 240; // rows at lines 48 and 192; sampled lines miss 184..199
    pair(p, 2, 1);
    std::vector<fcomplex> master = read_complex_file(files.master);
    for (int y = 184; y < 200; y++)
        for (int x = 40; x < 56; x++)
            master[y * 256 + x] = {1000.0f, 0.0f};
    ASSERT_TRUE(write_complex_image(files.master, master));

    const StageOneRun r = run(record(16, 1, 2, -1.0));
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.offsets.size(), 2u);
    EXPECT_NEAR(r.offsets[0].re, 2.0, 0.02);
    EXPECT_EQ(r.snr[1], 0.0f);
    EXPECT_EQ(r.offsets[1].re, 0.0f);
    EXPECT_EQ(r.offsets[1].im, 0.0f);
    EXPECT_EQ(std::count(r.listing.begin(), r.listing.end(), '\n'), 1);
}

// ------------------------------------------------------- output and layout

TEST_F(StageOne, PrintsFilterSetUpAndMasterAverageExactly) {
    pair(shifted(1, 2));
    Record info = record(64, 2, 2);
    info.windowHeight = 32;
    const StageOneRun r = run(info);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(
        r.out,
        kNoTitle +
            "interp. filter bandwidth:      0.500  FIR length: 17\n"
            "bp_filter: bw:  3.1416  wc:  0.0000  nfft: 128  nps: 17   Kaiser beta:   0.500\n"
            "bp_filter: bw:  3.1416  wc:  0.0000  nfft: 64  nps: 17   Kaiser beta:   0.500\n" +
            average_line(sampled_average(files.master, 256, 256, false)));
}

// Coarse azimuth offset 40: the slave lines of the last row (208 + 40 + 16)
// lie beyond the slave, so that row stays zero.
TEST_F(StageOne, WorkFilesHoldRowsInGridOrderAndListAcceptedPositions) {
    pair(shifted(3, 40), 3, 40);
    const StageOneRun r = run(record(32, 3, 3));
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(read_file_bytes(offs).size(), 3u * 3u * 8u);
    ASSERT_EQ(read_file_bytes(snr).size(), 3u * 3u * 4u);

    std::string expected;
    for (int k = 0; k < 9; k++) {
        const fcomplex o = r.offsets[k];
        const float s = r.snr[k];
        if (k >= 6) {
            EXPECT_EQ(o.re, 0.0f);
            EXPECT_EQ(o.im, 0.0f);
            EXPECT_EQ(s, 0.0f);
            continue;
        }
        EXPECT_NEAR(o.re, 3.0, 0.02);
        EXPECT_NEAR(o.im, 40.0, 0.02);
        ASSERT_GT(s, 3.0f);
        char line[80];
        std::snprintf(line, sizeof line, "%5d %5d %12.4f %12.4f %10.3f\n", 48 + k % 3 * 80,
                      48 + k / 3 * 80, o.re, o.im, s);
        expected += line;
    }
    EXPECT_EQ(r.listing, expected);
}

struct GridCase {
    int na, nr, width, height;
    double c0Range, c0Azimuth;       // in the input file
    double startRange, startAzimuth; // expected after the stage
    int azimuthSpacing, rangeSpacing;
};

class StageOneGrid : public StageOne, public ::testing::WithParamInterface<GridCase> {};

// The rewritten file is the input record with the eleven grid fields set and,
// only when both coefficients 0 were zero, the initial offsets as start values.
TEST_P(StageOneGrid, RewritesTheOffsetFileWithTheGridUsed) {
    const GridCase& g = GetParam();
    pair(shifted(3, 2));
    stOffsetParInfo par{};
    par.initial_range_offset = 3;
    par.initial_azimuth_offset = 2;
    par.number_of_slc_range_pixels = 4242;
    par.offset_estimation_starting_range = 5; // stale grid values are replaced
    par.offset_estimation_range_spacing = 7;
    par.offset_estimation_threshhold = 99.0;
    par.range_offset_polynomial[0] = g.c0Range;
    par.range_offset_polynomial[2] = 1e-6;
    par.azimuth_offset_polynomial[0] = g.c0Azimuth;
    ASSERT_TRUE(write_offset_file(files.off, par));

    Record info = record(g.width, g.nr, g.na, 2.5);
    info.windowHeight = g.height;
    ASSERT_TRUE(run(info).ok);

    stOffsetParInfo expected = par;
    expected.offset_estimation_starting_range = 48;
    expected.offset_estimation_ending_range = 256 - 48;
    expected.offset_estimation_range_samples = g.nr;
    expected.offset_estimation_range_spacing = g.rangeSpacing;
    expected.offset_estimation_starting_azimuth = 48;
    expected.offset_estimation_ending_azimuth = 256 - 48;
    expected.offset_estimation_azimuth_samples = g.na;
    expected.offset_estimation_azimuth_spacing = g.azimuthSpacing;
    expected.offset_estimation_window_width = g.width;
    expected.offset_estimation_window_height = g.height;
    expected.offset_estimation_threshhold = 2.5;
    expected.range_offset_polynomial[0] = g.startRange;
    expected.azimuth_offset_polynomial[0] = g.startAzimuth;
    EXPECT_EQ(read_file_bytes(files.off), rendered(expected));
}

INSTANTIATE_TEST_SUITE_P(Stage, StageOneGrid,
                         ::testing::Values(GridCase{3, 3, 32, 32, 0.0, 0.0, 3.0, 2.0, 80, 80},
                                           GridCase{1, 1, 32, 16, 1.0, 0.0, 1.0, 0.0, 16, 32},
                                           GridCase{2, 4, 16, 32, 0.0, -1.0, 0.0, -1.0, 160, 53}));

// ------------------------------------------------------------ measurement

struct MeasureCase {
    const char* name;
    int dx, dy;
    bool coarse;   // the off file holds the shift as initial offset
    bool scomplex; // the files hold SCOMPLEX samples
    const char* masterType;
    const char* slaveType;
};

class StageOneMeasure : public StageOne, public ::testing::WithParamInterface<MeasureCase> {};

// With the coarse offset both patches are the same samples and the peak is
// exact. Without it the patches overlap only in part; the circular
// correlation then weights each lag by its overlap, which pulls the peak
// towards zero by up to about 0.05 samples for shifts of 5. Only the
// master's imageDataType decides the sample format, and only "SCOMPLEX".
TEST_P(StageOneMeasure, RecoversWholeSampleAndLineShifts) {
    const MeasureCase& c = GetParam();
    PairSpec p = shifted(c.dx, c.dy);
    p.scomplex = c.scomplex;
    p.masterType = c.masterType;
    p.slaveType = c.slaveType;
    pair(p, c.coarse ? c.dx : 0, c.coarse ? c.dy : 0);
    const StageOneRun r = run(record(32, 3, 3));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.out, kNoTitle + kFilter32 +
                         average_line(sampled_average(files.master, 256, 256, c.scomplex)));
    ASSERT_EQ(r.offsets.size(), 9u);
    const double tolerance = c.coarse || (c.dx == 0 && c.dy == 0) ? 0.02 : 0.06;
    for (int k = 0; k < 9; k++) {
        EXPECT_GT(r.snr[k], 3.0f) << k;
        EXPECT_NEAR(r.offsets[k].re, c.dx, tolerance) << k;
        EXPECT_NEAR(r.offsets[k].im, c.dy, tolerance) << k;
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
                      MeasureCase{"Coarsem30p12", -30, 12, true, false, kF, kF},
                      MeasureCase{"Scomplex", -2, 3, true, true, kS, kS},
                      MeasureCase{"ScomplexSlaveSaysFcomplex", -2, 3, true, true, kS, kF},
                      MeasureCase{"FcomplexSlaveSaysScomplex", -2, 3, true, false, kF, kS},
                      MeasureCase{"EmptyTypeIsFcomplex", -2, 3, true, false, "", kS},
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

class StageOneWindow : public StageOne, public ::testing::WithParamInterface<WindowCase> {};

// The window must lie inside both images, with the half window strictly
// inside at the far end; more than H x W / 16 zero samples in either patch
// skip it. An image shorter than its XML says warns at every read beyond its
// end and reads zeros there (stale bytes of earlier lines would correlate).
TEST_P(StageOneWindow, IsCorrelatedOnlyInsideBothImagesWithFewZeros) {
    const WindowCase& c = GetParam();
    PairSpec p = shifted(c.dx, c.dy);
    p.w1 = c.w1;
    p.l1 = c.l1;
    p.w2 = c.w2;
    p.l2 = c.l2;
    pair(p, c.dx, c.dy);
    const std::string image = c.inSlave ? files.slave : files.master;
    const int width = c.inSlave ? c.w2 : c.w1;
    const int x0 = 32 + (c.inSlave ? c.dx : 0), y0 = 32 + (c.inSlave ? c.dy : 0);
    if (c.zeros > 0)
        zero_samples(image, width, [&](int x, int y) {
            return x >= x0 && x < x0 + 32 && y >= y0 + 5 && (y - y0 - 5) * 32 + (x - x0) < c.zeros;
        });
    if (c.keptLines > 0) {
        ASSERT_EQ(::truncate(image.c_str(), (c.keptLines * width + c.keptSamples) * 8), 0);
    }

    const StageOneRun r = run(record(32, 1, 1));
    EXPECT_EQ(r.ok, c.correlated);
    ASSERT_EQ(r.snr.size(), 1u);
    EXPECT_EQ(r.snr[0] > 3.0f, c.correlated);
    EXPECT_EQ(r.snr[0] == 0.0f, !c.correlated);
    EXPECT_NEAR(r.offsets[0].re, c.correlated ? c.dx : 0.0, 0.02);
    EXPECT_NEAR(r.offsets[0].im, c.correlated ? c.dy : 0.0, 0.02);

    // Every line the average intensity reads warns (lines 80 .. 208 here).
    const std::string warning = c.inSlave ? kWarn2 : kWarn1;
    std::string average, grid;
    for (int k = 0; c.keptLines > 0 && k < 5; k++)
        average += warning;
    for (int k = 0; k < c.gridWarnings; k++)
        grid += warning;
    const std::string line = average_line(sampled_average(files.master, c.w1, c.l1, false));
    EXPECT_EQ(r.out, kNoTitle + kFilter32 + (c.inSlave ? line + average : average + line) + grid);
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
                      // The master window covers lines 32..63, the slave's 33..64.
                      WindowCase{"MasterLast2Lines", 256, 256, 256, 256, 2, 1, 0, 0, 61, 40, 3, 0},
                      WindowCase{"SlaveLast2Lines", 256, 256, 256, 256, 2, 1, 1, 0, 62, 40, 3, 0},
                      WindowCase{"SlaveLastLine", 256, 256, 256, 256, 2, 1, 1, 0, 64, 0, 1, 1}),
    [](const auto& info) { return std::string(info.param.name); });

struct RoundingCase {
    double c0Range, c0Azimuth, c1Azimuth; // read from the off file
    int range, azimuth;                   // the whole-sample placement they must give
};

class StageOneRounding : public StageOne, public ::testing::WithParamInterface<RoundingCase> {};

// The slave patch is placed at the rounded polynomial offsets, the azimuth
// one taken at the master's centre sample (127.5): the run must be
// bit-identical to one with those integers as coefficients, and differ from
// the neighbouring placement.
TEST_P(StageOneRounding, SlavePatchIsPlacedAtOffsetsRoundedHalfAwayFromZero) {
    const RoundingCase& c = GetParam();
    pair(shifted(3, -3));
    auto run_with = [&](double c0Range, double c0Azimuth, double c1Azimuth) {
        stOffsetParInfo par{};
        par.range_offset_polynomial[0] = c0Range;
        par.azimuth_offset_polynomial[0] = c0Azimuth;
        par.azimuth_offset_polynomial[1] = c1Azimuth;
        EXPECT_TRUE(write_offset_file(files.off, par));
        StageOneRun r = run(record(32, 1, 1));
        EXPECT_TRUE(r.ok);
        return r;
    };
    const StageOneRun rounded = run_with(c.c0Range, c.c0Azimuth, c.c1Azimuth);
    const StageOneRun exact = run_with(c.range, c.azimuth, 0.0);
    const StageOneRun other = run_with(c.range - 1, c.azimuth + 1, 0.0);
    EXPECT_EQ(rounded.snr, exact.snr);
    EXPECT_EQ(rounded.offsets[0].re, exact.offsets[0].re);
    EXPECT_EQ(rounded.offsets[0].im, exact.offsets[0].im);
    EXPECT_NE(rounded.snr, other.snr);
}

INSTANTIATE_TEST_SUITE_P(Stage, StageOneRounding,
                         ::testing::Values(RoundingCase{2.5, -2.5, 0.0, 3, -3},
                                           RoundingCase{2.49, -2.49, 0.0, 2, -2},
                                           RoundingCase{-0.4, 0.4, 0.0, 0, 0},
                                           // -10.46875 + 127.5 / 16 = -2.5 exactly
                                           RoundingCase{2.5, -10.46875, 0.0625, 3, -3}));

// ----------------------------------------------------------- file access

// Sparse images of 1024 x 600000 FCOMPLEX samples (4.9 GB): the second grid
// row at line 599952 starts beyond 4 GiB. Only the lines of that row and
// line 16 (for the average intensities) hold data.
TEST_F(StageOne, ReadsRowsBeyondFourGibibytes) {
    const int width = 1024, lines = 600000, dx = -3, dy = 2;
    const off_t lineBytes = width * 8;
    files = {dir + "/big_master.slc", dir + "/big_slave.slc", dir + "/big.off"};
    const std::shared_ptr<void> cleanup(nullptr, [&](void*) {
        std::remove(files.master.c_str());
        std::remove(files.slave.c_str());
    });
    struct statvfs fs;
    if (::statvfs(dir.c_str(), &fs) != 0 || fs.f_bavail * fs.f_frsize < (64u << 20))
        GTEST_SKIP() << "not enough space for the sparse images";

    const SpeckleField field(width + 2 * kFieldPad, 64 + 2 * kFieldPad, 11);
    const int base = 599952 - 16 - 16; // field line 0
    for (const bool isMaster : {true, false}) {
        const std::string& path = isMaster ? files.master : files.slave;
        const int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        struct stat st;
        if (::ftruncate(fd, lines * lineBytes) != 0 || ::fstat(fd, &st) != 0 ||
            st.st_blocks * 512 > (1 << 20)) {
            ::close(fd);
            GTEST_SKIP() << "the file system makes no sparse files";
        }
        auto put = [&](int line, int fieldLine, int shift) {
            const std::string bytes = field_line_bytes(field, shift, fieldLine, width, false);
            ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), line * lineBytes),
                      static_cast<ssize_t>(bytes.size()));
        };
        put(16, 0, 0);
        for (int y = 0; y < 64; y++)
            put(base + y + (isMaster ? 0 : dy), y, isMaster ? 0 : -dx);
        ASSERT_EQ(::close(fd), 0);
        ASSERT_TRUE(write_image_xml(path, width, lines, "FCOMPLEX"));
    }
    ASSERT_TRUE(write_coarse_offset_file(files.off, dx, dy));

    const StageOneRun r = run(record(32, 1, 2));
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.offsets.size(), 2u);
    EXPECT_EQ(r.snr[0], 0.0f); // first row: no data
    EXPECT_GT(r.snr[1], 3.0f);
    EXPECT_NEAR(r.offsets[1].re, dx, 0.02);
    EXPECT_NEAR(r.offsets[1].im, dy, 0.02);
}

} // namespace
