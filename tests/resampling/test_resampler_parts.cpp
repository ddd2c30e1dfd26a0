// The pieces of the resampler: the kernel and its table, the window of
// slave lines, whole-sample offsets, the centroid estimate, failures.
#include "resampling/kernel_choice.h"
#include "resampling/resample_array.h"
#include "resampling/resample_file.h"
#include "resampling/slave_window.h"
#include "resampling/weighted_sum.h"
#include "tests/support/scratch.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <random>

namespace {

using namespace scratch;
using cf = std::complex<float>;

TEST(SincKernel, WholePositionsCopyTheSampleAndTheTableFollowsTheFormula) {
    const SincKernel kernel(resampling_kernel_shape(), kResamplingKernelPhases);
    EXPECT_EQ(kernel.first_tap(), -5);
    const WeightTable table(kernel, false);
    const float* w = table.at(0.0);
    for (int j = 0; j < kernel.taps(); j++)
        EXPECT_EQ(w[j], j == -kernel.first_tap() ? 1.0f : 0.0f) << j;
    // Fraction 1 is the next sample's copy.
    EXPECT_EQ(table.at(1.0)[-kernel.first_tap() + 1], 1.0f);
    const float* quarter = table.at(0.25);
    for (int j = 0; j < kernel.taps(); j++)
        EXPECT_NEAR(quarter[j], kernel.value(0.25 - (j + kernel.first_tap())), 1e-7);
    // Symmetric about the half-sample position.
    const float* half = table.at(0.5);
    for (int j = 0; j < kernel.taps(); j++)
        EXPECT_FLOAT_EQ(half[j], half[kernel.taps() - 1 - j]);
}

// A tone inside the band, interpolated between its samples.
TEST(SincKernel, InterpolatesAnInBandToneToBelowMinus40Db) {
    const SincKernel kernel(resampling_kernel_shape(), kResamplingKernelPhases);
    const WeightTable table(kernel, false);
    std::vector<cf> tone(64);
    const double f = 0.37;
    for (int n = 0; n < 64; n++)
        tone[n] = cf(std::polar(1.0, 2 * M_PI * f * n));
    for (double p = 30.0; p < 31.0; p += 0.0625) {
        const int n = static_cast<int>(std::floor(p));
        const cf v = weighted_sum(&tone[n + kernel.first_tap()], 1, table.at(p - n), 12);
        EXPECT_LT(std::norm(std::complex<double>(v) - std::polar(1.0, 2 * M_PI * f * p)), 1e-4)
            << p;
    }
}

// Counts what is read, so the window's reuse of lines shows.
class CountingSource : public SlaveLineSource {
public:
    int width() const override { return 3; }
    int lines() const override { return 100; }
    void read(int first, int count, cf* out) override {
        lines_read += count;
        for (int l = first; l < first + count; l++)
            for (int c = 0; c < 3; c++)
                *out++ = cf(static_cast<float>(l), static_cast<float>(c));
    }
    int lines_read = 0;
};

TEST(SlaveWindow, KeepsSharedLinesReadsOnlyNewOnesAndClipsToTheImage) {
    CountingSource source;
    SlaveWindow window(source, 0.0);
    window.cover(-4, 20);
    EXPECT_EQ(window.first(), 0);
    EXPECT_EQ(window.end(), 20);
    window.cover(10, 30);
    EXPECT_EQ(source.lines_read, 30);
    window.cover(5, 12); // before the window: lines 5..9 again
    EXPECT_EQ(source.lines_read, 35);
    for (int l = 5; l < 12; l++)
        EXPECT_EQ(window.line(l)[2], cf(static_cast<float>(l), 2.0f)) << l;
    window.cover(95, 130);
    EXPECT_EQ(window.end(), 100);
}

TEST(SlaveWindow, DemodulatesEachLineByItsOwnPhase) {
    CountingSource source;
    SlaveWindow window(source, 0.25);
    window.cover(0, 10);
    window.cover(8, 16); // lines 10..15 demodulated when read later
    for (int l = 8; l < 16; l++) {
        const std::complex<double> expected =
            std::complex<double>(l, 1.0) * std::polar(1.0, -2 * M_PI * 0.25 * l);
        EXPECT_NEAR(std::abs(std::complex<double>(window.line(l)[1]) - expected), 0.0, 1e-5) << l;
    }
}

// Offsets of whole samples and lines copy the slave, block boundaries and
// Doppler demodulation and remodulation included.
TEST(ResampleArray, WholeSampleOffsetsCopyTheSlaveAcrossBlocks) {
    constexpr int w = 50, lines = 150;
    std::vector<cf> slave(w * lines);
    for (int i = 0; i < w * lines; i++)
        slave[i] = cf(std::cos(0.37f * i), std::sin(0.11f * i * i));
    OffsetPolynomials offsets;
    offsets.range[0] = 3.0;
    offsets.azimuth[0] = -2.0;
    for (const double doppler : {0.0, 0.3}) {
        std::vector<cf> out(slave.size());
        std::vector<unsigned char> mask(slave.size());
        resample_array(slave.data(), lines, w, offsets, lines, w, doppler, out.data(), mask.data());
        for (int y = 8; y < lines - 8; y++)
            for (int x = 8; x < w - 12; x++) {
                ASSERT_EQ(mask[y * w + x], 0);
                ASSERT_LT(std::abs(out[y * w + x] - slave[(y - 2) * w + x + 3]), 2e-3)
                    << x << ", " << y << " doppler " << doppler;
            }
    }
}

TEST(ResampleArray, CentroidEstimateFindsTheSpectrumsCentre) {
    constexpr int w = 64, lines = 64;
    std::vector<cf> image(w * lines);
    for (int y = 0; y < lines; y++)
        for (int x = 0; x < w; x++)
            image[y * w + x] = cf(std::polar(1.0, 2 * M_PI * (-0.21 * y + 0.05 * x * x)));
    EXPECT_NEAR(estimate_array_doppler_centroid(image.data(), lines, w), -0.21, 1e-6);
    image[w * 9 + 3] = cf(NAN, 0.0f); // one no-data sample costs one vote, not the estimate
    EXPECT_NEAR(estimate_array_doppler_centroid(image.data(), lines, w), -0.21, 1e-6);
}

void write_pair(const std::string& dir, const stOffsetParInfo& par) {
    write_bytes(dir + "/m.slc", std::string(32 * 32 * 8, '\0'));
    write_bytes(dir + "/s.slc", std::string(32 * 32 * 8, '\0'));
    write_sar_image_xml(dir + "/m.xml", make_sar_image_info(32, 32, "FCOMPLEX"));
    write_sar_image_xml(dir + "/s.xml", make_sar_image_info(32, 32, "FCOMPLEX"));
    ASSERT_TRUE(write_offset_par_file(dir + "/fit.off", par));
}

TEST(ResampleFile, OutputXmlHasTheMastersGeometryInTheSlavesFormat) {
    const std::string dir = fresh_test_dir();
    write_pair(dir, stOffsetParInfo{});
    stSarImageInfo master = make_sar_image_info(32, 32, "FCOMPLEX");
    master.radarWavelength = 0.0555;
    write_sar_image_xml(dir + "/m.xml", master);
    write_bytes(dir + "/s.slc", std::string(32 * 40 * 4, '\0'));
    write_sar_image_xml(dir + "/s.xml", make_sar_image_info(40, 32, "SCOMPLEX"));
    const ResampleFileResult r = resample_file(
        {dir + "/m.slc", dir + "/s.slc", dir + "/fit.off", dir + "/o.slc", {}}, nullptr);
    EXPECT_EQ(r.doppler_source, "estimated");
    EXPECT_EQ(r.doppler_centroid, 0.0); // no signal
    stSarImageInfo out;
    ASSERT_TRUE(read_sar_image_xml(dir + "/o.xml", out));
    EXPECT_EQ(out.numberOfColumns, 32);
    EXPECT_EQ(out.imageDataType, "SCOMPLEX");
    EXPECT_EQ(out.radarWavelength, 0.0555);
    EXPECT_EQ(read_bytes(dir + "/o.slc").size(), std::size_t{32 * 32 * 4});
    EXPECT_EQ(read_bytes(dir + "/o.slc.mask").size(), std::size_t{32 * 32});
}

// 4096 samples a line: the output goes out in runs of 32 lines, here five
// (the last short), which together hold what resample_array gives.
TEST(ResampleFile, OutputWrittenInRunsHoldsTheArraysBytes) {
    constexpr int w = 4096, lines = 136;
    std::vector<cf> slave(std::size_t{w} * lines);
    for (std::size_t i = 0; i < slave.size(); i++)
        slave[i] = cf(std::cos(0.37f * (i % 1009)), std::sin(0.11f * (i % 977)));
    const std::string dir = fresh_test_dir();
    const auto bytes_of = [](const auto& v) {
        return std::string(reinterpret_cast<const char*>(v.data()), v.size() * sizeof(v[0]));
    };
    for (const char* name : {"/m", "/s"}) {
        write_bytes(dir + name + ".slc", bytes_of(slave));
        write_sar_image_xml(dir + name + ".xml", make_sar_image_info(w, lines, "FCOMPLEX"));
    }
    stOffsetParInfo par{};
    par.range_offset_polynomial[0] = 0.3;
    par.azimuth_offset_polynomial[2] = 1e-3;
    ASSERT_TRUE(write_offset_par_file(dir + "/fit.off", par));
    resample_file({dir + "/m.slc",
                   dir + "/s.slc",
                   dir + "/fit.off",
                   dir + "/o.slc",
                   {DopplerChoice::Mode::off, 0.0}},
                  nullptr);
    OffsetPolynomials offsets;
    offsets.range[0] = 0.3;
    offsets.azimuth[2] = 1e-3;
    std::vector<cf> out(slave.size());
    std::vector<unsigned char> mask(slave.size());
    resample_array(slave.data(), lines, w, offsets, lines, w, 0.0, out.data(), mask.data());
    EXPECT_TRUE(read_bytes(dir + "/o.slc") == bytes_of(out));
    EXPECT_TRUE(read_bytes(dir + "/o.slc.mask") == bytes_of(mask));
}

} // namespace

namespace {

// An in-memory slave, read line by line.
class ArrayLines : public SlaveLineSource {
public:
    ArrayLines(const std::complex<float>* data, int lines, int width)
        : data_(data), lines_(lines), width_(width) {}
    int width() const override { return width_; }
    int lines() const override { return lines_; }
    void read(int first, int count, std::complex<float>* out) override {
        std::copy(data_ + static_cast<std::size_t>(first) * width_,
                  data_ + static_cast<std::size_t>(first + count) * width_, out);
    }

private:
    const std::complex<float>* data_;
    int lines_, width_;
};

// A slave whose every column is one complex amplitude carried by the phase
// a centroid sweeping linearly from f0 at line 0 to f1 at the last line
// accumulates: the lag-one products give the centroid exactly.
std::vector<std::complex<float>> swept_slave(int width, int lines, double f0, double f1) {
    std::vector<std::complex<float>> image(static_cast<std::size_t>(width) * lines);
    const double slope = (f1 - f0) / (lines - 1);
    for (int l = 0; l < lines; l++) {
        const double cycles = f0 * l + 0.5 * slope * l * l;
        for (int c = 0; c < width; c++)
            image[static_cast<std::size_t>(l) * width + c] =
                std::polar(1.0f + 0.1f * static_cast<float>(c % 7),
                           static_cast<float>(2.0 * M_PI * (cycles - std::floor(cycles)) + c));
    }
    return image;
}

} // namespace

TEST(DopplerModel, PhaseIsTheCentroidsIntegralAcrossNodesAndBeyondThem) {
    const DopplerModel model({10.0, 40.0, 90.0}, {0.1, 0.4, 0.2}, {2e-4, -1e-7, 0.0});
    const double x = 123.0;
    // Trapezoids of a hundredth of a line, from before the first node to
    // past the last: exact for the linear pieces, so only rounding remains.
    double integral = 0.0;
    for (double y = -5.0; y < 120.0 - 1e-9; y += 0.01)
        integral += 0.005 * (model.centroid(x, y) + model.centroid(x, y + 0.01));
    EXPECT_NEAR(model.phase_cycles(x, 120.0) - model.phase_cycles(x, -5.0), integral, 1e-6);
    double lowest = 0.0, highest = 0.0;
    model.extent(200, 100, &lowest, &highest);
    EXPECT_NEAR(highest, 0.4 + 2e-4 * 199 - 1e-7 * 199 * 199, 1e-12);
}

TEST(DopplerModel, ASweptCentroidIsFollowedAcrossHalfTheRateAndAConstantOneIsNot) {
    constexpr int width = 64, lines = 200;
    const std::vector<std::complex<float>> swept = swept_slave(width, lines, 0.05, 0.7);
    const ChosenDoppler chosen = choose_array_doppler(swept.data(), lines, width, {}, nullptr);
    ASSERT_TRUE(chosen.model.varies_in_azimuth());
    for (double y : {0.0, 57.0, 150.0, 199.0}) // unwrapped past 0.5, ends extrapolated
        EXPECT_NEAR(chosen.model.centroid(0.0, y), 0.05 + 0.65 * y / (lines - 1), 2e-3) << y;
    EXPECT_NE(chosen.description().find("(estimated, following azimuth)"), std::string::npos);

    const std::vector<std::complex<float>> steady = swept_slave(width, lines, 0.2, 0.2);
    const ChosenDoppler constant = choose_array_doppler(steady.data(), lines, width, {}, nullptr);
    EXPECT_TRUE(constant.model.is_constant());
    EXPECT_NEAR(constant.mean, 0.2, 1e-6);
}

TEST(DopplerModel, ANarrowNoisyImageKeepsOneCentroidThoughItsBlocksScatter) {
    // 32 samples wide, noise twice the signal: the smoothed blocks span more
    // than kDopplerVariation, but less than ten times their own scatter.
    constexpr int width = 32, lines = 4096;
    std::mt19937 random(1);
    std::normal_distribution<float> noise(0.0f, 2.0f);
    std::vector<std::complex<float>> image = swept_slave(width, lines, 0.2, 0.2);
    for (std::complex<float>& v : image)
        v += std::complex<float>(noise(random), noise(random));
    ArrayLines source(image.data(), lines, width);
    const DopplerProfile profile = estimate_doppler_profile(source);
    const auto [lo, hi] = std::minmax_element(profile.centroids.begin(), profile.centroids.end());
    ASSERT_GT(*hi - *lo, kDopplerVariation);
    const ChosenDoppler chosen = choose_array_doppler(image.data(), lines, width, {}, nullptr);
    EXPECT_TRUE(chosen.model.is_constant());
    EXPECT_NEAR(chosen.mean, 0.2, 0.01);
    EXPECT_TRUE(DopplerModel({0.0}, {0.1}, {0.0, 1e-7, 0.0}).has_range_terms());
}
