// The resampler against simulated pairs whose offsets are known exactly:
// with the true polynomials the slave must come back as the master.
#include "resampling/interferogram.h"
#include "resampling/interferogram_file.h"
#include "resampling/resample_array.h"
#include "resampling/resample_file.h"
#include "tests/support/scratch.h"
#include "tools/slcsim/slc_file.h"
#include "tools/slcsim/slcsim.h"

#include <complex>
#include <cstring>

namespace {

using namespace scratch;
using cf = std::complex<float>;

constexpr int kSize = 512;
const double kRange[6] = {2.6, 1.1e-3, -7e-4, 3e-7, -4e-7, 2.5e-7};
const double kAzimuth[6] = {-1.8, -5e-4, 1.2e-3, -2.5e-7, 3e-7, -3.5e-7};

std::string simulate(const std::string& dir, SampleFormat format, double doppler) {
    SlcSimOptions sim = square_pair_in(dir, kSize, kRange, kAzimuth);
    sim.format = format;
    sim.doppler = doppler;
    std::string error;
    EXPECT_TRUE(simulate_slc_pair(sim, &error)) << error;
    return dir;
}

std::vector<cf> read_image(const std::string& path, SampleFormat format) {
    const std::vector<fcomplex> raw = read_slc(path, kSize, kSize, format);
    std::vector<cf> out(raw.size());
    for (std::size_t i = 0; i < raw.size(); i++)
        out[i] = {raw[i].re, raw[i].im};
    return out;
}

ResampleFileResult resample(const std::string& dir, DopplerChoice doppler = {}) {
    return resample_file({dir + "/master.slc", dir + "/slave.slc", dir + "/truth.off",
                          dir + "/resampled.slc", doppler},
                         nullptr);
}

// Error power of the resampled slave against the master, relative to the
// master's, in dB over the unmasked samples.
double error_db(const std::string& dir, SampleFormat format) {
    const std::vector<cf> m = read_image(dir + "/master.slc", format),
                          s = read_image(dir + "/resampled.slc", format);
    const std::string mask = read_bytes(dir + "/resampled.slc.mask");
    double err = 0.0, power = 0.0;
    for (std::size_t i = 0; i < m.size(); i++)
        if (mask[i] == 0) {
            err += std::norm(std::complex<double>(m[i]) - std::complex<double>(s[i]));
            power += std::norm(std::complex<double>(m[i]));
        }
    return 10.0 * std::log10(err / power);
}

double mean_coherence(const std::string& dir) {
    return interferogram_file({dir + "/master.slc", dir + "/resampled.slc", 5, 5, dir},
                              raw_raster_writer, nullptr)
        .mean_coherence;
}

TEST(ResampleFile, TruePolynomialsReturnTheMaster) {
    const std::string dir = simulate(fresh_test_dir(), SampleFormat::fcomplex, 0.0);
    const ResampleFileResult r = resample(dir);
    EXPECT_EQ(r.format, "FCOMPLEX");
    EXPECT_EQ(r.doppler_source, "estimated");
    EXPECT_NEAR(r.doppler_centroid, 0.0, 0.01);
    EXPECT_LE(error_db(dir, SampleFormat::fcomplex), -35.0);
    EXPECT_GE(mean_coherence(dir), 0.99);
    EXPECT_EQ(read_bytes(dir + "/resampled.slc").size(), std::size_t{kSize * kSize * 8});
    stSarImageInfo info;
    ASSERT_TRUE(read_sar_image_xml(dir + "/resampled.xml", info));
    EXPECT_EQ(info.numberOfColumns, kSize);
    EXPECT_EQ(info.imageDataType, "FCOMPLEX");
}

TEST(ResampleFile, DopplerAwarePathKeepsTheCoherenceThePlainPathLoses) {
    const std::string dir = simulate(fresh_test_dir(), SampleFormat::fcomplex, 0.3);
    const ResampleFileResult aware = resample(dir);
    EXPECT_EQ(aware.doppler_source, "xml");
    EXPECT_DOUBLE_EQ(aware.doppler_centroid, 0.3);
    const double with = mean_coherence(dir);
    EXPECT_GE(with, 0.99);
    resample(dir, {DopplerChoice::Mode::off, 0.0});
    const double without = mean_coherence(dir);
    EXPECT_LT(without, 0.9);
    std::printf("mean coherence, centroid 0.3 cycles/line: Doppler-aware %.4f, plain %.4f\n", with,
                without);
}

TEST(ResampleFile, CentroidIsEstimatedFromTheSamplesWithoutOneInTheXml) {
    const std::string dir = simulate(fresh_test_dir(), SampleFormat::fcomplex, -0.2);
    write_sar_image_xml(dir + "/slave.xml", make_sar_image_info(kSize, kSize, "FCOMPLEX"));
    const ResampleFileResult r = resample(dir);
    EXPECT_EQ(r.doppler_source, "estimated");
    EXPECT_NEAR(r.doppler_centroid, -0.2, 0.005);
}

TEST(ResampleFile, ScomplexInGivesScomplexOut) {
    const std::string dir = simulate(fresh_test_dir(), SampleFormat::scomplex, 0.0);
    const ResampleFileResult r = resample(dir);
    EXPECT_EQ(r.format, "SCOMPLEX");
    EXPECT_EQ(r.saturated, 0);
    EXPECT_EQ(read_bytes(dir + "/resampled.slc").size(), std::size_t{kSize * kSize * 4});
    EXPECT_LE(error_db(dir, SampleFormat::scomplex), -35.0);
}

// A step of nearly full scale, shifted by half a sample: the kernel's ripple
// overshoots the 16-bit range; those parts are clamped and counted.
TEST(ResampleFile, SaturationIsClampedAndCounted) {
    const std::string dir = fresh_test_dir();
    std::string bytes;
    for (int y = 0; y < 64; y++)
        for (int x = 0; x < 64; x++) {
            const std::int16_t v = x < 32 ? 32000 : -32000;
            bytes.append(reinterpret_cast<const char*>(&v), 2).append(2, '\0');
        }
    write_bytes(dir + "/slave.slc", bytes);
    write_bytes(dir + "/master.slc", bytes);
    for (const char* name : {"/slave.xml", "/master.xml"})
        write_sar_image_xml(dir + name, make_sar_image_info(64, 64, "SCOMPLEX"));
    stOffsetParInfo par{};
    par.range_offset_polynomial[0] = 0.5;
    ASSERT_TRUE(write_offset_par_file(dir + "/truth.off", par));
    const ResampleFileResult r = resample(dir, {DopplerChoice::Mode::off, 0.0});
    EXPECT_GT(r.saturated, 0);
    const std::string out = read_bytes(dir + "/resampled.slc");
    for (int y = 8; y < 56; y++) { // the step's overshoot stays the sign of its side
        std::int16_t near_left, near_right;
        std::memcpy(&near_left, &out[(y * 64 + 30) * 4], 2);
        std::memcpy(&near_right, &out[(y * 64 + 32) * 4], 2);
        EXPECT_GT(near_left, 0);
        EXPECT_LT(near_right, 0);
    }
}

// Offsets of +3 samples: master x reads slave columns x - 2 .. x + 9.
TEST(ResampleArray, MasksExactlyTheSamplesWhoseKernelLeavesTheSlave) {
    constexpr int w = 40, lines = 20;
    std::vector<cf> slave(w * lines, cf(1.0f, 0.0f));
    OffsetPolynomials offsets;
    offsets.range[0] = 3.0;
    std::vector<cf> out(slave.size());
    std::vector<unsigned char> mask(slave.size());
    const long masked =
        resample_array(slave.data(), lines, w, offsets, lines, w, 0.0, out.data(), mask.data());
    // In azimuth lines 0..4 and 15..19 reach outside as well.
    for (int y = 0; y < lines; y++)
        for (int x = 0; x < w; x++) {
            const bool outside = x < 2 || x > w - 10 || y < 5 || y > lines - 7;
            EXPECT_EQ(mask[y * w + x], outside ? 1 : 0) << x << ", " << y;
            if (!outside) {
                EXPECT_NEAR(out[y * w + x].real(), 1.0f, 1e-6f);
            }
        }
    EXPECT_EQ(masked, lines * w - 29 * 9);
}

// Cancels from its progress callback once the first block is written.
struct CancelAfterFirstBlock : Progress {
    std::vector<double> seen;
    bool cancel = false;
    void progress(double percent) override {
        seen.push_back(percent);
        cancel = percent > 0.0;
    }
    bool cancelled() override { return cancel; }
};

TEST(ResampleFile, CancelFromTheProgressStopsBeforeTheNextBlockAndLeavesNothing) {
    const std::string dir = simulate(fresh_test_dir(), SampleFormat::fcomplex, 0.0);
    CancelAfterFirstBlock progress;
    EXPECT_THROW(resample_file({dir + "/master.slc",
                                dir + "/slave.slc",
                                dir + "/truth.off",
                                dir + "/resampled.slc",
                                {},
                                2},
                               &progress),
                 Cancelled);
    EXPECT_EQ(progress.seen, (std::vector<double>{0.0, 100.0 * 64 / kSize}));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 6);
}

// A sample that is not finite in either image is left out of its cell's
// sums exactly as a masked (zero) slave sample is.
TEST(Interferogram, NoDataSamplesAreLeftOutLikeMaskedOnes) {
    constexpr int w = 5, lines = 3;
    std::vector<cf> m(w * lines), s(m.size());
    for (int i = 0; i < w * lines; i++) {
        m[i] = cf(std::cos(0.7f * i * i), std::sin(1.3f * i));
        s[i] = cf(std::cos(1.9f * i), std::sin(0.3f * i * i));
    }
    const auto coherence_of = [&](std::vector<cf> master, std::vector<cf> slave) {
        cf ifg;
        float coherence;
        interferogram_arrays(master.data(), slave.data(), lines, w, 3, 5, &ifg, &coherence);
        return coherence;
    };
    auto masked = s, nan_slave = s, inf_master = m;
    masked[7] = 0.0f;
    nan_slave[7] = cf(NAN, 0.0f);
    inf_master[7] = cf(INFINITY, 0.0f);
    const float expected = coherence_of(m, masked);
    EXPECT_LT(expected, 0.9f);
    EXPECT_EQ(coherence_of(inf_master, s), expected);
    EXPECT_EQ(coherence_of(m, nan_slave), expected);
}

TEST(Interferogram, CoherenceOfAScaledCopyIsOneAndTheLooksTruncate) {
    constexpr int w = 11, lines = 7;
    std::vector<cf> m(w * lines), s(m.size());
    for (int i = 0; i < w * lines; i++) {
        m[i] = cf(std::cos(0.7f * i * i), std::sin(1.3f * i));
        s[i] = m[i] * cf(0.0f, 2.0f);
    }
    std::vector<cf> ifg(2 * 2); // 7 / 3 lines, 11 / 5 samples
    std::vector<float> coherence(ifg.size());
    interferogram_arrays(m.data(), s.data(), lines, w, 3, 5, ifg.data(), coherence.data());
    for (std::size_t i = 0; i < ifg.size(); i++) {
        EXPECT_NEAR(coherence[i], 1.0f, 1e-6f);
        EXPECT_NEAR(std::arg(ifg[i]), -M_PI / 2, 1e-6); // m conj(2i m) = -2i |m|^2
    }
    CoherenceSummary summary;
    const float values[] = {0.0f, 0.2f, 0.4f, 1.0f};
    summary.add(values, 4);
    EXPECT_EQ(summary.cells(), 3);
    EXPECT_NEAR(summary.mean(), 1.6 / 3, 1e-6);
    EXPECT_NEAR(summary.median(), 0.4, 1e-4);
    EXPECT_EQ(summary.histogram()[19], 1);
}

TEST(Interferogram, CancelFromTheProgressStopsAfterTheRowsReported) {
    constexpr int w = 3, lines = 130;
    std::vector<cf> m(w * lines, cf(1.0f, 0.0f)), ifg(m.size(), cf(-1.0f, 0.0f));
    std::vector<float> coherence(m.size(), -1.0f);
    CancelAfterFirstBlock progress;
    EXPECT_THROW(interferogram_arrays(m.data(), m.data(), lines, w, 1, 1, ifg.data(),
                                      coherence.data(), &progress),
                 Cancelled);
    EXPECT_EQ(progress.seen, (std::vector<double>{0.0, 100.0 * 64 / lines}));
    EXPECT_EQ(coherence[64 * w - 1], 1.0f);
    EXPECT_EQ(coherence[64 * w], -1.0f); // row 64 was never formed
}

TEST(Interferogram, MismatchedSizesFailNamingTheFile) {
    const std::string dir = simulate(fresh_test_dir(), SampleFormat::fcomplex, 0.0);
    write_sar_image_xml(dir + "/slave.xml", make_sar_image_info(kSize, kSize - 1, "FCOMPLEX"));
    EXPECT_THROW(
        {
            try {
                interferogram_file({dir + "/master.slc", dir + "/slave.slc", 5, 5, dir},
                                   raw_raster_writer, nullptr);
            } catch (const FileError& e) {
                EXPECT_NE(std::string(e.what()).find(dir + "/slave.slc"), std::string::npos);
                throw;
            }
        },
        FileError);
}

} // namespace

// The lines of a block go to several threads: every thread count must give
// the bytes of one thread, across block boundaries (150 lines: blocks of 64,
// 64 and 22) and with the Doppler path. (Files on threads: the Python tests.)
TEST(ResampleThreads, AnyNumberOfThreadsGivesTheBytesOfOne) {
    constexpr int w = 97, lines = 150;
    std::vector<cf> slave(w * lines);
    unsigned state = 12345;
    for (cf& v : slave) {
        state = state * 1103515245u + 12345u;
        v = cf(static_cast<float>(state >> 16 & 0xff) - 128.0f,
               static_cast<float>(state >> 8 & 0xff) - 128.0f);
    }
    OffsetPolynomials offsets;
    std::copy(kRange, kRange + 6, offsets.range);
    std::copy(kAzimuth, kAzimuth + 6, offsets.azimuth);
    const auto run = [&](int threads, std::vector<cf>* out, std::vector<unsigned char>* mask) {
        out->assign(slave.size(), cf());
        mask->assign(slave.size(), 0);
        // A centroid swept along azimuth and varying along range, as burst
        // mode gives: the demodulation phases are looked up per sample.
        const DopplerModel doppler({10.0, 70.0, 130.0}, {0.05, 0.3, 0.45}, {1e-4, 0.0, 0.0});
        return resample_array(slave.data(), lines, w, offsets, lines, w, doppler, out->data(),
                              mask->data(), threads);
    };
    std::vector<cf> one, many;
    std::vector<unsigned char> oneMask, manyMask;
    const long masked = run(1, &one, &oneMask);
    for (int threads : {2, 3, 7}) {
        EXPECT_EQ(run(threads, &many, &manyMask), masked) << threads;
        EXPECT_EQ(0, std::memcmp(one.data(), many.data(), one.size() * sizeof(cf))) << threads;
        EXPECT_EQ(oneMask, manyMask) << threads;
    }
}
