// Offsets beyond the polynomials and a Doppler centroid varying in azimuth:
// the truth the simulator states must be what the images hold.
#include "params/sar_image_xml.h"
#include "resampling/resample_file.h"
#include "tests/support/run_process.h"
#include "tests/support/scratch.h"
#include "tools/slcsim/field_setup.h"
#include "tools/slcsim/offset_model.h"
#include "tools/slcsim/offset_raster.h"
#include "tools/slcsim/slcsim.h"

#include <cmath>
#include <complex>
#include <cstdio>

namespace {

using namespace scratch;
using cd = std::complex<double>;

SlcSimOptions pair_options(const std::string& dir, int width, int lines) {
    SlcSimOptions o;
    o.width = width;
    o.lines = lines;
    o.master_path = dir + "/master.slc";
    o.slave_path = dir + "/slave.slc";
    o.offset_par_path = dir + "/pair.off";
    o.truth_path = dir + "/truth.off";
    return o;
}

std::vector<cd> read_image(const std::string& path, int width, int lines) {
    std::vector<cd> out;
    for (const fcomplex& s : read_slc(path, width, lines, SampleFormat::fcomplex))
        out.emplace_back(s.re, s.im);
    return out;
}

slcsim::OffsetRaster constant_raster(int width, int lines, float range, float azimuth) {
    const std::size_t n = static_cast<std::size_t>(width) * static_cast<std::size_t>(lines);
    return {width, lines, std::vector<float>(n, range), std::vector<float>(n, azimuth)};
}

// The offsets one option alone gives at (x, y).
slcsim::Offset offset_of(const SlcSimOptions& o, double x, double y) {
    slcsim::OffsetFields fields;
    std::string error;
    EXPECT_TRUE(slcsim::make_offset_fields(o, &fields, &error)) << error;
    const double zero[6] = {};
    return slcsim::OffsetModel(zero, zero, fields).offset(x, y);
}

TEST(SlcsimFields, EachShapeGivesTheAskedOffsetsAtKnownPoints) {
    SlcSimOptions o = pair_options("", 201, 101); // centre (100, 50)
    o.fields.range_bump = {3.0, 8.0, NAN, NAN};
    EXPECT_NEAR(offset_of(o, 100, 50).range, 3.0, 1e-12);
    EXPECT_NEAR(offset_of(o, 108, 50).range, 3.0 * std::exp(-0.5), 1e-12);
    EXPECT_EQ(offset_of(o, 100, 50).azimuth, 0.0);
    o.fields.range_bump = {};
    o.fields.azimuth_bump = {-2.0, 5.0, 40.0, 30.0};
    EXPECT_NEAR(offset_of(o, 40, 30).azimuth, -2.0, 1e-12);
    EXPECT_NEAR(offset_of(o, 40, 25).azimuth, -2.0 * std::exp(-0.5), 1e-12);
    o.fields.azimuth_bump = {};
    o.fields.azimuth_step = 2.5; // on the diagonal from (0, 0) to (200, 100)
    EXPECT_NEAR(offset_of(o, 100, 50).azimuth, 1.25, 1e-12);
    EXPECT_NEAR(offset_of(o, 0, 100).azimuth, 2.5, 1e-12);
    EXPECT_NEAR(offset_of(o, 200, 0).azimuth, 0.0, 1e-12);
    o.fields.azimuth_step = 0.0;
    o.fields.flow = 6.0; // radius a quarter of 101 lines
    EXPECT_NEAR(offset_of(o, 100 + 25.25, 50).azimuth, 6.0, 1e-12);
    EXPECT_NEAR(offset_of(o, 100, 50 + 25.25).range, -6.0, 1e-12);
    EXPECT_NEAR(std::hypot(offset_of(o, 100, 50).range, offset_of(o, 100, 50).azimuth), 0.0, 1e-12);
}

TEST(SlcsimFields, TruthFieldIsTheRasterPlusPolynomialsPlusShapes) {
    const std::string dir = fresh_test_dir();
    constexpr int kWidth = 64, kLines = 48;
    slcsim::OffsetRaster raster = constant_raster(kWidth, kLines, 0.0f, 0.0f);
    for (std::size_t i = 0; i < raster.range.size(); i++) {
        raster.range[i] = static_cast<float>(0.4 * std::sin(0.1 * static_cast<double>(i)));
        raster.azimuth[i] = static_cast<float>(0.3 * std::cos(0.07 * static_cast<double>(i)));
    }
    slcsim::write_offset_raster(dir + "/in.off.raw", raster);
    SlcSimOptions o = pair_options(dir, kWidth, kLines);
    o.fields.raster_path = dir + "/in.off.raw";
    o.fields.range_bump = {1.5, 6.0, 20.0, 10.0};
    o.range_offset_polynomial[0] = 0.5;
    o.azimuth_offset_polynomial[2] = 1e-3;
    o.truth_field_path = dir + "/truth.raw";
    std::string error;
    ASSERT_TRUE(simulate_slc_pair(o, &error)) << error;
    const slcsim::OffsetRaster truth =
        slcsim::read_offset_raster(o.truth_field_path, kWidth, kLines);
    for (int y = 0; y < kLines; y++)
        for (int x = 0; x < kWidth; x++) {
            const std::size_t i = static_cast<std::size_t>(y * kWidth + x);
            const double bump =
                1.5 * std::exp(-((x - 20.0) * (x - 20.0) + (y - 10.0) * (y - 10.0)) / 72.0);
            ASSERT_NEAR(truth.range[i], raster.range[i] + 0.5 + bump, 1e-6) << x << "," << y;
            ASSERT_NEAR(truth.azimuth[i], raster.azimuth[i] + 1e-3 * y, 1e-6) << x << "," << y;
        }
}

// Whole-sample offsets of tens of samples leave no interpolation: the slave
// is the master moved, Doppler phase included, in both resampling paths
// (polynomials alone, and with a raster).
TEST(SlcsimFields, LargeWholeOffsetsMoveTheMasterWithItsVaryingDopplerPhase) {
    constexpr int kSize = 128;
    for (const bool raster : {false, true}) {
        const std::string dir = fresh_test_dir();
        SlcSimOptions o = pair_options(dir, kSize, kSize);
        o.doppler = 0.05;
        o.doppler_at_last_line = 0.45;
        if (raster) {
            slcsim::write_offset_raster(dir + "/in.raw", constant_raster(kSize, kSize, 20, -15));
            o.fields.raster_path = dir + "/in.raw";
        } else {
            o.range_offset_polynomial[0] = 20;
            o.azimuth_offset_polynomial[0] = -15;
        }
        std::string error;
        ASSERT_TRUE(simulate_slc_pair(o, &error)) << error;
        const std::vector<cd> m = read_image(o.master_path, kSize, kSize),
                              s = read_image(o.slave_path, kSize, kSize);
        double worst = 0.0;
        for (int y = 15; y < kSize; y++)
            for (int x = 0; x + 20 < kSize; x++)
                worst = std::max(worst,
                                 std::abs(s[static_cast<std::size_t>((y - 15) * kSize + x + 20)] -
                                          m[static_cast<std::size_t>(y * kSize + x)]));
        EXPECT_LT(worst, 1e-4) << (raster ? "raster" : "polynomials"); // float parts of size ~7
    }
}

// Through a raster of zeros, fractional polynomial offsets take the
// two-dimensional path: the project's resampler with the true polynomials
// must bring the slave back onto the master.
TEST(SlcsimFields, FieldPathSlaveResamplesBackOntoTheMaster) {
    constexpr int kSize = 192;
    const std::string dir = fresh_test_dir();
    slcsim::write_offset_raster(dir + "/zero.raw", constant_raster(kSize, kSize, 0, 0));
    SlcSimOptions o = pair_options(dir, kSize, kSize);
    o.fields.raster_path = dir + "/zero.raw";
    const double range[6] = {2.6, 1.1e-3, -7e-4}, azimuth[6] = {-1.8, -5e-4, 1.2e-3};
    std::copy(range, range + 6, o.range_offset_polynomial);
    std::copy(azimuth, azimuth + 6, o.azimuth_offset_polynomial);
    std::string error;
    ASSERT_TRUE(simulate_slc_pair(o, &error)) << error;
    ResampleFileRequest request;
    request.master = o.master_path;
    request.slave = o.slave_path;
    request.fitted_off = o.truth_path;
    request.out_slc = dir + "/back.slc";
    resample_file(request, nullptr);
    const std::vector<cd> m = read_image(o.master_path, kSize, kSize),
                          b = read_image(dir + "/back.slc", kSize, kSize);
    const std::string mask = read_bytes(dir + "/back.slc.mask");
    double err = 0.0, power = 0.0;
    for (std::size_t i = 0; i < m.size(); i++)
        if (mask[i] == 0) {
            err += std::norm(m[i] - b[i]);
            power += std::norm(m[i]);
        }
    const double error_db = 10.0 * std::log10(err / power);
    std::printf("resampled back: error %.1f dB of the master's power\n", error_db);
    EXPECT_LT(error_db, -35.0); // the resampler's own error is ~-44 dB
}

// The centroid of lines [first, first + count): phase of the lag-one azimuth
// correlation, in each of 16 range segments; their mean and standard error.
std::pair<double, double> local_centroid(const std::vector<cd>& image, int width, int first,
                                         int count) {
    constexpr int kSegments = 16;
    const int segment = width / kSegments;
    double sum = 0.0, sum2 = 0.0;
    for (int k = 0; k < kSegments; k++) {
        cd c = 0.0;
        for (int y = first; y + 1 < first + count; y++)
            for (int x = k * segment; x < (k + 1) * segment; x++)
                c += image[static_cast<std::size_t>((y + 1) * width + x)] *
                     std::conj(image[static_cast<std::size_t>(y * width + x)]);
        const double f = std::arg(c) / (2.0 * M_PI);
        sum += f;
        sum2 += f * f;
    }
    const double mean = sum / kSegments;
    return {mean, std::sqrt((sum2 / kSegments - mean * mean) / (kSegments - 1))};
}

TEST(SlcsimFields, VaryingDopplerCentroidFollowsTheLinesAndTheXmlStatesItsMean) {
    constexpr int kSize = 256, kBlock = 16;
    const std::string dir = fresh_test_dir();
    SlcSimOptions o = pair_options(dir, kSize, kSize);
    o.doppler = 0.05;
    o.doppler_at_last_line = 0.45;
    std::string error;
    ASSERT_TRUE(simulate_slc_pair(o, &error)) << error;
    const std::vector<cd> m = read_image(o.master_path, kSize, kSize);
    for (const int first : {0, kSize - kBlock}) {
        const double middle = first + (kBlock - 1) / 2.0;
        const double expected = 0.05 + 0.4 * middle / (kSize - 1);
        const auto [estimate, standard_error] = local_centroid(m, kSize, first, kBlock);
        std::printf("centroid of lines %d..%d: %.4f +- %.4f, expected %.4f\n", first,
                    first + kBlock - 1, estimate, standard_error, expected);
        EXPECT_NEAR(estimate, expected, 4.0 * standard_error) << "lines from " << first;
        EXPECT_LT(standard_error, 0.01);
    }
    stSarImageInfo info;
    ASSERT_TRUE(read_sar_image_xml(dir + "/slave.xml", info));
    EXPECT_DOUBLE_EQ(info.dopplerCentroidCoefficients[0] / info.pulseRepetitionFrequency, 0.25);
}

TEST(SlcsimFields, RefusesFoldsForeignRastersAndOverwritingTheRaster) {
    const std::string dir = fresh_test_dir();
    std::string error;
    SlcSimOptions o = pair_options(dir, 64, 64);
    o.fields.range_step = 10.0; // runs back over itself across the diagonal
    EXPECT_FALSE(simulate_slc_pair(o, &error));
    EXPECT_NE(error.find("fold"), std::string::npos) << error;
    o.fields.range_step = 0.0;
    slcsim::write_offset_raster(dir + "/in.raw", constant_raster(64, 32, 0, 0));
    o.fields.raster_path = dir + "/in.raw";
    EXPECT_FALSE(simulate_slc_pair(o, &error));
    EXPECT_NE(error.find(dir + "/in.raw: holds 64 x 32 offsets"), std::string::npos) << error;
    o.lines = 32;
    o.truth_field_path = dir + "/in.raw";
    EXPECT_FALSE(simulate_slc_pair(o, &error));
    EXPECT_NE(error.find("would overwrite the offset raster"), std::string::npos) << error;
}

TEST(SlcsimFields, CommandLineOptionsReachTheSimulation) {
    const std::string dir = fresh_test_dir();
    const ProcessRun run =
        run_process(SLCSIM_TOOL, {"--out-dir", dir, "--width", "64", "--lines", "48",
                                  "--azimuth-bump", "3,8,40,30", "--doppler-azimuth", "0.1,0.3",
                                  "--truth-field", dir + "/truth.raw"});
    ASSERT_EQ(run.status, 0) << run.err;
    const slcsim::OffsetRaster truth = slcsim::read_offset_raster(dir + "/truth.raw", 64, 48);
    EXPECT_FLOAT_EQ(truth.azimuth[30 * 64 + 40], 3.0f);
    stSarImageInfo info;
    ASSERT_TRUE(read_sar_image_xml(dir + "/master.xml", info));
    EXPECT_DOUBLE_EQ(info.dopplerCentroidCoefficients[0] / info.pulseRepetitionFrequency, 0.2);
    expect_one_line_error(run_process(SLCSIM_TOOL, {"--out-dir", dir, "--doppler", "0.1",
                                                    "--doppler-azimuth", "0.1,0.2"}),
                          "slcsim", 2, "exclude each other");
    expect_one_line_error(run_process(SLCSIM_TOOL, {"--out-dir", dir, "--range-bump", "1,2,3"}),
                          "slcsim", 2, "--range-bump");
}

} // namespace
