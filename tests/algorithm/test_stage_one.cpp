// Stage 1 on synthetic pairs: failure reports, diagnostics, work-file and
// offset-file layouts, sample formats, the no-data rule, placement of the
// slave patch, 64-bit file positions and reads at the end of an image.
#include "synthetic_pair.h"

#include <cstdio>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

using Record = stFineCoregistrationInfo;

const char* const kNoPoints = "No points available for determining average intensity !";
const char* const kNoOffsets = "No offsets found above SNR threshold !";
const char* const kWarn1 = "WARNING: attempt to read beyond end of SLC-1 file\n\n";
const char* const kWarn2 = "\nWARNING: attempt to read beyond end of SLC-2 file\n\n";
// Offset parameter files carry no title keyword.
const char* const kNoTitle = "WARNING: subroutine rd_str, keyword not found: title\n";

struct StageOneRun {
    bool ok = false;
    std::vector<std::pair<int, QString>> posted;
    std::string out;
    std::vector<fcomplex> offsets;
    std::vector<float> snr;
    std::string listing;
};

// The set-up lines of the oversampling filter for a W x H window.
std::string filter_lines(int W, int H) {
    const int nps = W / 4 + 1;
    std::string out =
        "interp. filter bandwidth:      0.500  FIR length: " + std::to_string(nps) + "\n";
    for (int nfft : {2 * W, 2 * H})
        out += "bp_filter: bw:  3.1416  wc:  0.0000  nfft: " + std::to_string(nfft) +
               "  nps: " + std::to_string(nps) + "   Kaiser beta:   0.500\n";
    return out;
}

// Mean intensity over lines 16, 48, ... and samples 4, 12, ..., exact zeros
// skipped; a line the file does not hold completely counts as zeros.
double sampled_average(const std::string& path, int width, int lines, bool scomplex) {
    const std::string bytes = read_file_bytes(path);
    const std::size_t b = scomplex ? 4 : 8;
    double sum = 0.0;
    int count = 0;
    for (int y = 16; y < lines - 16; y += 32) {
        const std::size_t start = static_cast<std::size_t>(y) * width * b;
        if (start + width * b > bytes.size())
            continue;
        for (int x = 4; x < width - 4; x += 8) {
            double re, im;
            if (scomplex) {
                std::int16_t parts[2];
                std::memcpy(parts, &bytes[start + x * b], 4);
                re = static_cast<float>(parts[0] * 0.001);
                im = static_cast<float>(parts[1] * 0.001);
            } else {
                float parts[2];
                std::memcpy(parts, &bytes[start + x * b], 8);
                re = parts[0];
                im = parts[1];
            }
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

std::string render_offset_par(const stOffsetParInfo& par) {
    std::FILE* f = std::tmpfile();
    write_offset_par(f, &par);
    std::string text(static_cast<std::size_t>(std::ftell(f)), '\0');
    std::rewind(f);
    EXPECT_EQ(std::fread(&text[0], 1, text.size(), f), text.size());
    std::fclose(f);
    return text;
}

// The file's bytes; "<directory>" for a directory, "" when absent.
std::string snapshot(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return "";
    return S_ISDIR(st.st_mode) ? "<directory>" : read_file_bytes(path);
}

bool write_text(const std::string& path, const std::string& text) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    std::fwrite(text.data(), 1, text.size(), f);
    return std::fclose(f) == 0;
}

// Sets to zero the samples of an FCOMPLEX image for which pick(x, y) holds.
template <class Pick> void zero_samples(const std::string& path, int width, Pick pick) {
    std::vector<fcomplex> image = read_complex_file(path);
    for (std::size_t k = 0; k < image.size(); k++)
        if (pick(static_cast<int>(k % width), static_cast<int>(k / width)))
            image[k] = {0.0f, 0.0f};
    ASSERT_TRUE(write_complex_image(path, image));
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

    StageOneRun run(Record info) {
        RecordingCoregistration algo;
        StageOneRun r;
        ::testing::internal::CaptureStdout();
        r.ok = FineCoregistrationTestAccess::offset_pwr(algo, info, offs, snr, listing);
        r.out = ::testing::internal::GetCapturedStdout();
        r.posted = algo.posted;
        // Work files replaced by /dev/full for a test are not read back.
        auto regular = [](const std::string& p) { return p.rfind("/dev/", 0) != 0; };
        if (regular(offs))
            r.offsets = read_complex_file(offs);
        if (regular(snr))
            r.snr = read_float_file(snr);
        r.listing = read_file_bytes(listing);
        return r;
    }

    std::string dir, offs, snr, listing;
    PairFiles files;
};

PairSpec shifted(int dx, int dy) {
    PairSpec p;
    p.dx = dx;
    p.dy = dy;
    return p;
}

// ---------------------------------------------------------------- failures

struct FailureCase {
    const char* name;
    void (*spoil)(StageOne&, Record&);
    const char* message;
};

class StageOneFailure : public StageOne, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(StageOneFailure, Reports110AndLeavesTheOffsetFileAsItWas) {
    pair(shifted(2, 1));
    Record info = record(32, 2, 2);
    GetParam().spoil(*this, info);
    const std::string off = info.offsetParPath.toStdString();
    const std::string before = snapshot(off);

    const StageOneRun r = run(info);
    EXPECT_FALSE(r.ok);
    ASSERT_EQ(r.posted.size(), 1u);
    EXPECT_EQ(r.posted[0].first, 110);
    EXPECT_EQ(r.posted[0].second.toStdString(), GetParam().message);
    EXPECT_EQ(snapshot(off), before);
}

void remove_file(const std::string& path) {
    ASSERT_EQ(std::remove(path.c_str()), 0) << path;
}
void rewrite_xml(const std::string& image, int lines) {
    ASSERT_TRUE(write_image_xml(image, 256, lines, "FCOMPLEX"));
}
void zero_image(const std::string& image) {
    zero_samples(image, 256, [](int, int) { return true; });
}
// Only the samples the average intensity looks at.
void zero_sampled_positions(const std::string& image) {
    zero_samples(image, 256, [](int x, int y) { return y % 32 == 16 && x % 8 == 4; });
}

INSTANTIATE_TEST_SUITE_P(
    Stage, StageOneFailure,
    ::testing::Values(
        FailureCase{"MissingMaster", [](StageOne& t, Record&) { remove_file(t.files.master); },
                    "Failed to open the master image !"},
        FailureCase{"MissingSlave", [](StageOne& t, Record&) { remove_file(t.files.slave); },
                    "Failed to open the slave image !"},
        FailureCase{"MissingMasterXml",
                    [](StageOne& t, Record&) { remove_file(t.dir + "/master.xml"); },
                    "Open xml parameter file error!"},
        FailureCase{"MalformedMasterXml",
                    [](StageOne& t, Record&) {
                        ASSERT_TRUE(write_text(t.dir + "/master.xml", "<kivInSARParameter><a>"));
                    },
                    "Open xml parameter file error!"},
        FailureCase{"MissingSlaveXml",
                    [](StageOne& t, Record&) { remove_file(t.dir + "/slave.xml"); },
                    "Open xml parameter file error!"},
        FailureCase{"MissingOffFile",
                    [](StageOne& t, Record& i) {
                        i.offsetParPath = QString::fromStdString(t.dir + "/none.off");
                    },
                    "Failed to open the off file !"},
        FailureCase{"OffsetsFileInMissingDirectory",
                    [](StageOne& t, Record&) { t.offs = t.dir + "/none/offs"; },
                    "Failed to create the offsets file !"},
        FailureCase{"SnrFileInMissingDirectory",
                    [](StageOne& t, Record&) { t.snr = t.dir + "/none/snr"; },
                    "Failed to create the snr file !"},
        FailureCase{"ListingInMissingDirectory",
                    [](StageOne& t, Record&) { t.listing = t.dir + "/none/offsets.txt"; },
                    "Cannot open text offsets listing file!"},
        FailureCase{"Master32Lines", [](StageOne& t, Record&) { rewrite_xml(t.files.master, 32); },
                    kNoPoints},
        // 33 lines give one sampled line; the grid row then lies outside.
        FailureCase{"Master33Lines", [](StageOne& t, Record&) { rewrite_xml(t.files.master, 33); },
                    kNoOffsets},
        FailureCase{"MasterAllZero", [](StageOne& t, Record&) { zero_image(t.files.master); },
                    kNoPoints},
        FailureCase{"MasterZeroWhereSampled",
                    [](StageOne& t, Record&) { zero_sampled_positions(t.files.master); },
                    kNoPoints},
        FailureCase{"Slave32Lines", [](StageOne& t, Record&) { rewrite_xml(t.files.slave, 32); },
                    kNoPoints},
        FailureCase{"SlaveAllZero", [](StageOne& t, Record&) { zero_image(t.files.slave); },
                    kNoPoints},
        FailureCase{"SlaveZeroWhereSampled",
                    [](StageOne& t, Record&) { zero_sampled_positions(t.files.slave); }, kNoPoints},
        FailureCase{"ThresholdNeverReached", [](StageOne&, Record& i) { i.snrThreshold = 1e9; },
                    kNoOffsets},
        FailureCase{"OffsetsFileFull", [](StageOne& t, Record&) { t.offs = "/dev/full"; },
                    "Failed to write to output offsets file !"},
        FailureCase{"SnrFileFull", [](StageOne& t, Record&) { t.snr = "/dev/full"; },
                    "Failed to write to output snr file !"},
        // A directory opens for reading on POSIX systems, but is no file.
        FailureCase{"OffFileIsDirectory",
                    [](StageOne& t, Record& i) {
                        ASSERT_EQ(::mkdir((t.dir + "/dir.off").c_str(), 0755), 0);
                        i.offsetParPath = QString::fromStdString(t.dir + "/dir.off");
                    },
                    "Failed to open the off file !"},
        FailureCase{"MasterIsDirectory",
                    [](StageOne& t, Record& i) {
                        ASSERT_EQ(::mkdir((t.dir + "/dir.slc").c_str(), 0755), 0);
                        ASSERT_TRUE(write_image_xml(t.dir + "/dir.slc", 256, 256, "FCOMPLEX"));
                        i.masterImagePath = QString::fromStdString(t.dir + "/dir.slc");
                    },
                    "Failed to open the master image !"},
        // A directory where the replacement is written beside the file.
        FailureCase{"OffFileReplacementBlocked",
                    [](StageOne& t, Record&) {
                        const std::string temp =
                            t.files.off + ".tmp." + std::to_string(static_cast<long>(::getpid()));
                        ASSERT_EQ(::mkdir(temp.c_str(), 0755), 0);
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
        std::string(kNoTitle) +
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
    EXPECT_EQ(read_file_bytes(offs).size(), 3u * 3u * 8u);
    EXPECT_EQ(read_file_bytes(snr).size(), 3u * 3u * 4u);

    std::string expected;
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++) {
            const fcomplex o = r.offsets[i * 3 + j];
            const float s = r.snr[i * 3 + j];
            if (i == 2) {
                EXPECT_EQ(o.re, 0.0f);
                EXPECT_EQ(o.im, 0.0f);
                EXPECT_EQ(s, 0.0f);
                continue;
            }
            EXPECT_NEAR(o.re, 3.0, 0.02);
            EXPECT_NEAR(o.im, 40.0, 0.02);
            ASSERT_GT(s, 3.0f);
            char line[80];
            std::snprintf(line, sizeof line, "%5d %5d %12.4f %12.4f %10.3f\n", 48 + j * 80,
                          48 + i * 80, o.re, o.im, s);
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
    ASSERT_TRUE(write_text(files.off, render_offset_par(par)));

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
    EXPECT_EQ(read_file_bytes(files.off), render_offset_par(expected));
}

INSTANTIATE_TEST_SUITE_P(Stage, StageOneGrid,
                         ::testing::Values(GridCase{3, 3, 32, 32, 0.0, 0.0, 3.0, 2.0, 80, 80},
                                           GridCase{1, 1, 32, 16, 1.0, 0.0, 1.0, 0.0, 16, 32},
                                           GridCase{2, 4, 16, 32, 0.0, -1.0, 0.0, -1.0, 160, 53}));

// ------------------------------------------------------------ measurement

struct FormatCase {
    const char* name;
    bool scomplexFiles;
    const char* masterType;
    const char* slaveType;
};

class StageOneFormat : public StageOne, public ::testing::WithParamInterface<FormatCase> {};

// Only the master's imageDataType decides, and only "SCOMPLEX" exactly.
TEST_P(StageOneFormat, SampleFormatFollowsTheMasterRecord) {
    PairSpec p = shifted(-2, 3);
    p.scomplex = GetParam().scomplexFiles;
    p.masterType = GetParam().masterType;
    p.slaveType = GetParam().slaveType;
    pair(p, -2, 3);
    const StageOneRun r = run(record(32, 2, 2));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.out, kNoTitle + filter_lines(32, 32) +
                         average_line(sampled_average(files.master, 256, 256, p.scomplex)));
    for (std::size_t k = 0; k < r.offsets.size(); k++) {
        EXPECT_NEAR(r.offsets[k].re, -2.0, 0.02) << k;
        EXPECT_NEAR(r.offsets[k].im, 3.0, 0.02) << k;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Stage, StageOneFormat,
    ::testing::Values(FormatCase{"Scomplex", true, "SCOMPLEX", "SCOMPLEX"},
                      FormatCase{"ScomplexSlaveSaysFcomplex", true, "SCOMPLEX", "FCOMPLEX"},
                      FormatCase{"FcomplexSlaveSaysScomplex", false, "FCOMPLEX", "SCOMPLEX"},
                      FormatCase{"EmptyTypeIsFcomplex", false, "", "SCOMPLEX"},
                      FormatCase{"LowerCaseIsFcomplex", false, "scomplex", "SCOMPLEX"}),
    [](const auto& info) { return std::string(info.param.name); });

// SCOMPLEX values are each part times 0.001 in double precision, rounded to
// float: a FCOMPLEX pair holding exactly those floats gives the same bits.
TEST_F(StageOne, ScomplexReadsAsFloatsOfTheScaledIntegers) {
    PairSpec p = shifted(-2, 3);
    p.scomplex = true;
    p.masterType = p.slaveType = "SCOMPLEX";
    pair(p, -2, 3);
    const StageOneRun scomplex = run(record(32, 2, 2));
    ASSERT_TRUE(scomplex.ok);
    for (const std::string& image : {files.master, files.slave}) {
        const std::string raw = read_file_bytes(image);
        std::vector<fcomplex> scaled(raw.size() / 4);
        for (std::size_t k = 0; k < scaled.size(); k++) {
            std::int16_t parts[2];
            std::memcpy(parts, &raw[k * 4], 4);
            scaled[k] = {static_cast<float>(parts[0] * 0.001),
                         static_cast<float>(parts[1] * 0.001)};
        }
        ASSERT_TRUE(write_complex_image(image, scaled));
        ASSERT_TRUE(write_image_xml(image, 256, 256, "FCOMPLEX"));
    }
    const StageOneRun fcomplex = run(record(32, 2, 2));
    EXPECT_EQ(scomplex.out, fcomplex.out);
    EXPECT_EQ(scomplex.snr, fcomplex.snr);
    EXPECT_EQ(scomplex.listing, fcomplex.listing);
}

struct NoDataCase {
    const char* name;
    bool inMaster;
    int zeros;
};

class StageOneNoData : public StageOne, public ::testing::WithParamInterface<NoDataCase> {};

// Window 32 x 32 at sample 48, line 48 (slave at 50, 49): up to 64 zero
// samples in a patch are tolerated.
TEST_P(StageOneNoData, PatchWithMoreThanOneSixteenthZerosIsSkipped) {
    pair(shifted(2, 1), 2, 1);
    const NoDataCase& c = GetParam();
    const std::string image = c.inMaster ? files.master : files.slave;
    const int x0 = c.inMaster ? 32 : 34, y0 = c.inMaster ? 32 : 33;
    zero_samples(image, 256, [&](int x, int y) {
        const int k = (y - y0) * 32 + (x - x0);
        return x >= x0 && x < x0 + 32 && y >= y0 + 5 && k - 5 * 32 < c.zeros;
    });
    const StageOneRun r = run(record(32, 1, 1));
    ASSERT_EQ(r.snr.size(), 1u);
    if (c.zeros <= 64) {
        ASSERT_TRUE(r.ok);
        EXPECT_GT(r.snr[0], 3.0f);
        EXPECT_NEAR(r.offsets[0].re, 2.0, 0.02);
        EXPECT_NEAR(r.offsets[0].im, 1.0, 0.02);
    } else {
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.snr[0], 0.0f);
        EXPECT_EQ(r.offsets[0].re, 0.0f);
    }
}

INSTANTIATE_TEST_SUITE_P(Stage, StageOneNoData,
                         ::testing::Values(NoDataCase{"Master64", true, 64},
                                           NoDataCase{"Master65", true, 65},
                                           NoDataCase{"Slave64", false, 64},
                                           NoDataCase{"Slave65", false, 65}),
                         [](const auto& info) { return std::string(info.param.name); });

struct ShiftCase {
    int dx, dy;
    bool coarse; // the off file holds the shift as initial offset
};

// With the coarse offset both patches are the same samples and the peak is
// exact. Without it the patches overlap only in part; the circular
// correlation then weights each lag by its overlap, which pulls the peak
// towards zero by up to about 0.05 samples for shifts of 5.
double shift_tolerance(const ShiftCase& c) {
    return c.coarse || (c.dx == 0 && c.dy == 0) ? 0.02 : 0.06;
}

class StageOneShift : public StageOne, public ::testing::WithParamInterface<ShiftCase> {};

TEST_P(StageOneShift, RecoversWholeSampleAndLineShifts) {
    const ShiftCase& c = GetParam();
    pair(shifted(c.dx, c.dy), c.coarse ? c.dx : 0, c.coarse ? c.dy : 0);
    const StageOneRun r = run(record(32, 3, 3));
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.offsets.size(), 9u);
    for (int k = 0; k < 9; k++) {
        EXPECT_GT(r.snr[k], 3.0f) << k;
        EXPECT_NEAR(r.offsets[k].re, c.dx, shift_tolerance(c)) << k;
        EXPECT_NEAR(r.offsets[k].im, c.dy, shift_tolerance(c)) << k;
    }
}

INSTANTIATE_TEST_SUITE_P(Stage, StageOneShift,
                         ::testing::Values(ShiftCase{0, 0, false}, ShiftCase{3, -2, false},
                                           ShiftCase{-5, 4, false}, ShiftCase{17, -23, true},
                                           ShiftCase{-30, 12, true}));

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
        EXPECT_TRUE(write_text(files.off, render_offset_par(par)));
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

struct BoundsCase {
    const char* name;
    int w1, l1, w2, l2;
    int range, azimuth; // shift, also given as coarse offset
    bool correlated;
};

class StageOneBounds : public StageOne, public ::testing::WithParamInterface<BoundsCase> {};

// One 32 x 32 window at sample 48, line 48: it must lie inside both images,
// the slave one at the coarse offset, with the half window strictly inside
// at the far end.
TEST_P(StageOneBounds, WindowIsCorrelatedOnlyInsideBothImages) {
    const BoundsCase& c = GetParam();
    PairSpec p = shifted(c.range, c.azimuth);
    p.w1 = c.w1;
    p.l1 = c.l1;
    p.w2 = c.w2;
    p.l2 = c.l2;
    pair(p, c.range, c.azimuth);
    const StageOneRun r = run(record(32, 1, 1));
    EXPECT_EQ(r.ok, c.correlated);
    ASSERT_EQ(r.snr.size(), 1u);
    EXPECT_EQ(r.snr[0] > 3.0f, c.correlated);
    EXPECT_EQ(r.snr[0] == 0.0f, !c.correlated);
}

INSTANTIATE_TEST_SUITE_P(
    Stage, StageOneBounds,
    ::testing::Values(BoundsCase{"Master65Wide", 65, 256, 256, 256, 0, 0, true},
                      BoundsCase{"Master64Wide", 64, 256, 256, 256, 0, 0, false},
                      BoundsCase{"Master65Lines", 256, 65, 256, 256, 0, 0, true},
                      BoundsCase{"Master64Lines", 256, 64, 256, 256, 0, 0, false},
                      BoundsCase{"Slave67Wide", 256, 256, 67, 256, 2, 0, true},
                      BoundsCase{"Slave66Wide", 256, 256, 66, 256, 2, 0, false},
                      BoundsCase{"Slave67Lines", 256, 256, 256, 67, 0, 2, true},
                      BoundsCase{"Slave66Lines", 256, 256, 256, 66, 0, 2, false},
                      BoundsCase{"SlaveStartsAtSample0", 256, 256, 256, 256, -32, 0, true},
                      BoundsCase{"SlaveBeforeSample0", 256, 256, 256, 256, -33, 0, false},
                      BoundsCase{"SlaveStartsAtLine0", 256, 256, 256, 256, 0, -32, true},
                      BoundsCase{"SlaveBeforeLine0", 256, 256, 256, 256, 0, -33, false}),
    [](const auto& info) { return std::string(info.param.name); });

// ----------------------------------------------------------- file access

struct EndOfFileCase {
    const char* name;
    bool master;
    int keptLines, keptSamples; // what remains of the image file
    int gridWarnings;
    bool correlated;
};

class StageOneEndOfFile : public StageOne, public ::testing::WithParamInterface<EndOfFileCase> {};

// The image is shorter than its XML says. The missing end of the window
// reads as zeros: more than 64 of them skip the position, where stale bytes
// of earlier lines would have correlated.
TEST_P(StageOneEndOfFile, ReadBeyondTheEndWarnsAndZeroFills) {
    const EndOfFileCase& c = GetParam();
    pair(shifted(2, 1), 2, 1); // master window lines 32..63, slave 33..64
    const std::string image = c.master ? files.master : files.slave;
    ASSERT_EQ(::truncate(image.c_str(), (c.keptLines * 256 + c.keptSamples) * 8), 0);

    const StageOneRun r = run(record(32, 1, 1));
    EXPECT_EQ(r.ok, c.correlated);
    ASSERT_EQ(r.snr.size(), 1u);
    EXPECT_EQ(r.snr[0] > 3.0f, c.correlated);
    std::string average;
    for (int k = 0; k < 5; k++) // lines 80 .. 208 of the average
        average += c.master ? kWarn1 : kWarn2;
    std::string grid;
    for (int k = 0; k < c.gridWarnings; k++)
        grid += c.master ? kWarn1 : kWarn2;
    const std::string line = average_line(sampled_average(files.master, 256, 256, false));
    EXPECT_EQ(r.out, kNoTitle + filter_lines(32, 32) +
                         (c.master ? average + line : line + average) + grid);
}

INSTANTIATE_TEST_SUITE_P(
    Stage, StageOneEndOfFile,
    ::testing::Values(EndOfFileCase{"MasterLast2Lines", true, 61, 40, 3, false},
                      EndOfFileCase{"SlaveLast2Lines", false, 62, 40, 3, false},
                      EndOfFileCase{"SlaveLastLine", false, 64, 0, 1, true}),
    [](const auto& info) { return std::string(info.param.name); });

// Removes the files it names when the test ends, however it ends.
struct RemoveOnExit {
    std::vector<std::string> paths;
    ~RemoveOnExit() {
        for (const std::string& p : paths)
            std::remove(p.c_str());
    }
};

// Sparse images of 1024 x 600000 FCOMPLEX samples (4.9 GB): the second grid
// row at line 599952 starts beyond 4 GiB. Only the lines of that row and
// line 16 (for the average intensities) hold data.
TEST_F(StageOne, ReadsRowsBeyondFourGibibytes) {
    const int width = 1024, lines = 600000, dx = -3, dy = 2;
    const off_t lineBytes = width * 8;
    files = {dir + "/big_master.slc", dir + "/big_slave.slc", dir + "/big.off"};
    RemoveOnExit cleanup{{files.master, files.slave}};
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
    cleanup.paths.push_back(files.off);

    const StageOneRun r = run(record(32, 1, 2));
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.offsets.size(), 2u);
    EXPECT_EQ(r.snr[0], 0.0f); // first row: no data
    EXPECT_GT(r.snr[1], 3.0f);
    EXPECT_NEAR(r.offsets[1].re, dx, 0.02);
    EXPECT_NEAR(r.offsets[1].im, dy, 0.02);
}

} // namespace
