// Whole runs on simulated pairs with known offset fields, and stage 1 on
// crops of real SLC pairs (skipped where that data is absent).
#include "algorithm/run_driver.h"
#include "tests/support/scratch.h"
#include "tools/slcsim/slcsim.h"

namespace {

using namespace scratch;

struct EndToEndCase {
    const char* name;
    double range[6], azimuth[6];
    double coherence;
    SlcFormat format;
};
FC_PRINTS_AS_NAME(EndToEndCase)

class EndToEnd : public ::testing::TestWithParam<EndToEndCase> {};

// 1024 x 1024, 64 x 64 windows on a 16 x 16 grid: measured maxima of the
// fitted-minus-true offsets 0.016-0.036 samples, RMS 0.007-0.015.
TEST_P(EndToEnd, FittedPolynomialsReproduceTheTrueOffsets) {
    const EndToEndCase& c = GetParam();
    const std::string dir = fresh_test_dir();
    SlcSimOptions sim;
    sim.width = sim.lines = 1024;
    sim.format = c.format;
    std::copy(c.range, c.range + 6, sim.range_offset_polynomial);
    std::copy(c.azimuth, c.azimuth + 6, sim.azimuth_offset_polynomial);
    sim.coherence = c.coherence;
    sim.seed = 20261206;
    sim.initial_range_offset = static_cast<int>(std::lround(c.range[0]));
    sim.initial_azimuth_offset = static_cast<int>(std::lround(c.azimuth[0]));
    sim.master_path = dir + "/master.slc";
    sim.slave_path = dir + "/slave.slc";
    sim.offset_par_path = dir + "/pair.off";
    sim.truth_path = dir + "/truth.off";
    std::string error;
    ASSERT_TRUE(simulate_slc_pair(sim, &error)) << error;

    const RunRequest request{
        sim.master_path, sim.slave_path, sim.offset_par_path, 64, 64, 16, 16, 7.0, false};
    RecordingReporter reporter;
    ::testing::internal::CaptureStdout();
    const bool ok = run_fine_coreg(request, reporter);
    ::testing::internal::GetCapturedStdout();
    ASSERT_TRUE(ok) << reporter.failures[0];

    const stOffsetParInfo fitted = read_off(dir + "/pair_new.off"),
                          truth = read_off(sim.truth_path);
    double largest = 0.0, sum = 0.0;
    int n = 0;
    for (int y = 0; y < sim.lines; y += 32)
        for (int x = 0; x < sim.width; x += 32)
            for (const auto& [f, t] :
                 {std::pair{fitted.range_offset_polynomial, truth.range_offset_polynomial},
                  {fitted.azimuth_offset_polynomial, truth.azimuth_offset_polynomial}}) {
                const double d = eval_offset_poly(f, x, y) - eval_offset_poly(t, x, y);
                largest = std::max(largest, std::fabs(d));
                sum += d * d;
                n++;
            }
    EXPECT_LT(largest, 0.05);
    EXPECT_LT(std::sqrt(sum / n), 0.025);
}

INSTANTIATE_TEST_SUITE_P(
    SimulatedPairs, EndToEnd,
    ::testing::Values(
        EndToEndCase{"Constant", {3.37}, {-2.62}, 1.0, SlcFormat::fcomplex},
        EndToEndCase{
            "Linear07", {2.2, 1.1e-3, -0.6e-3}, {-1.4, 0.5e-3, 0.9e-3}, 0.7, SlcFormat::fcomplex},
        EndToEndCase{"Quadratic",
                     {1.8, 0.8e-3, 0.3e-3, 0.6e-6, -0.9e-6, 0.7e-6},
                     {-2.3, -0.4e-3, 1.2e-3, -0.5e-6, 0.8e-6, -1.1e-6},
                     1.0,
                     SlcFormat::fcomplex},
        EndToEndCase{"Quadratic07Scomplex",
                     {1.8, 0.8e-3, 0.3e-3, 0.6e-6, -0.9e-6, 0.7e-6},
                     {-2.3, -0.4e-3, 1.2e-3, -0.5e-6, 0.8e-6, -1.1e-6},
                     0.7,
                     SlcFormat::scomplex}),
    [](const auto& info) { return std::string(info.param.name); });

// ------------------------------------------------------------- real data

const std::string kData = FC_REAL_DATA_DIR;

struct Image {
    std::vector<fcomplex> samples;
    int width, lines;
};

// The part of an image from sample x0 and line y0 on, behind a border of
// pad zero samples and lines.
Image cut(const Image& image, int x0, int y0, int pad = 0) {
    Image out{{}, image.width - x0 + pad, image.lines - y0 + pad};
    out.samples.assign(static_cast<std::size_t>(out.width) * out.lines, fcomplex{0.0f, 0.0f});
    for (int y = y0; y < image.lines; y++)
        for (int x = x0; x < image.width; x++)
            out.samples[static_cast<std::size_t>(y - y0 + pad) * out.width + x - x0 + pad] =
                image.samples[static_cast<std::size_t>(y) * image.width + x];
    return out;
}

class RealData : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(kData + "/README.md"))
            GTEST_SKIP() << "real SLC data not present at " << kData;
    }
    Image load(const std::string& path, int width, int lines) {
        return {read_values<fcomplex>(kData + path), width, lines};
    }
    // Stage 1 with 64 x 64 windows on an nr x na grid, no coarse offset.
    OffsetMeasurements measure(const Image& master, const Image& slave, int nr, int na) {
        const std::string dir = fresh_test_dir();
        const RunRequest request{
            dir + "/m.slc", dir + "/s.slc", dir + "/pair.off", 64, 64, nr, na, 3.0, false};
        for (const auto& [path, image] :
             {std::pair{request.masterPath, &master}, std::pair{request.slavePath, &slave}}) {
            write_values(path, image->samples);
            write_image_xml(path, image->width, image->lines);
        }
        write_off(request.offsetParPath, stOffsetParInfo{});
        RecordingReporter reporter;
        OffsetMeasurements m;
        ::testing::internal::CaptureStdout();
        EXPECT_TRUE(estimate_offsets(request, work_files_for_base(dir + "/Temp_1"), reporter, &m));
        ::testing::internal::GetCapturedStdout();
        return m;
    }
};

// The pair is co-registered. Dropping 3 samples and 2 lines of the slave
// moves every feature 3 samples and 2 lines lower: offset (-3, -2).
TEST_F(RealData, AmsterdamPairGivesTheShiftOfACrop) {
    const Image ref = load("/s1_amsterdam/s1a_iw3_vv_20230331_ref.slc", 338, 84);
    const Image sec = load("/s1_amsterdam/s1a_iw3_vv_20230319_sec_coreg.slc", 338, 84);
    for (const auto& [dx, dy] : {std::pair<int, int>{0, 0}, {3, 2}}) {
        const OffsetMeasurements m = measure(ref, cut(sec, dx, dy), 5, 1);
        EXPECT_GE(m.acceptedCount, 4) << dx << ", " << dy;
        for (std::size_t j = 0; j < m.accepted.size(); j++)
            if (m.accepted[j]) {
                EXPECT_NEAR(m.rangeOffset[j], -dx, 0.1) << "window " << j;
                EXPECT_NEAR(m.azimuthOffset[j], -dy, 0.1) << "window " << j;
            }
    }
}

// The interiors of the Winnipeg pair are bit-identical. Behind a 20-sample
// zero border the first row and column of windows hold 4 padded plus 4
// warped-border zero lines (or samples): more than 1/16 of the window, so
// they are not correlated.
TEST_F(RealData, WinnipegIdentityPairGivesZeroOffsetsExceptOnNoData) {
    const Image master = load("/winnipeg/winnipeg_freqA_HH.slc", 250, 250);
    const Image warped = load("/winnipeg/warped_winnipeg.slc", 250, 250);
    for (const int pad : {0, 20}) {
        const OffsetMeasurements m = measure(cut(master, 0, 0, pad), cut(warped, 0, 0, pad), 3, 3);
        ASSERT_EQ(m.snr.size(), 9u);
        for (int k = 0; k < 9; k++) {
            const bool noData = pad > 0 && (k < 3 || k % 3 == 0);
            EXPECT_EQ(m.snr[k] == 0.0f, noData) << "pad " << pad << " position " << k;
            EXPECT_EQ(m.accepted[k], !noData) << "pad " << pad << " position " << k;
            EXPECT_NEAR(m.rangeOffset[k], 0.0, 0.02) << "position " << k;
            EXPECT_NEAR(m.azimuthOffset[k], 0.0, 0.02) << "position " << k;
        }
    }
}

} // namespace
