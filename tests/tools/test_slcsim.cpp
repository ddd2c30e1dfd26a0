#include "params/offset_par.h"
#include "params/sar_image_xml.h"
#include "slcsim.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <vector>

namespace {

using cd = std::complex<double>;

struct Image {
    int width = 0;
    std::vector<fcomplex> samples;
    cd at(int x, int y) const {
        const fcomplex& s = samples[static_cast<std::size_t>(y) * width + x];
        return {s.re, s.im};
    }
};

struct Pair {
    SlcSimOptions options;
    Image master, slave;
};

// Options of a width x lines pair written under `name`, offset by constant
// range and azimuth offsets.
SlcSimOptions options_for(const std::string& name, int width, int lines, double range = 0.0,
                          double azimuth = 0.0) {
    const std::string base = std::string(FC_TEST_TMP_DIR) + "/" + name;
    SlcSimOptions o;
    o.width = width;
    o.lines = lines;
    o.range_offset_polynomial[0] = range;
    o.azimuth_offset_polynomial[0] = azimuth;
    o.master_path = base + "_m.slc";
    o.slave_path = base + "_s.slc";
    o.offset_par_path = base + ".off";
    o.truth_path = base + "_truth.off";
    return o;
}

Pair simulate(const SlcSimOptions& o) {
    std::string error;
    EXPECT_TRUE(simulate_slc_pair(o, &error)) << error;
    Pair p{o,
           {o.width, read_slc(o.master_path, o.width, o.lines, o.format)},
           {o.width, read_slc(o.slave_path, o.width, o.lines, o.format)}};
    const std::size_t n = static_cast<std::size_t>(o.width) * o.lines;
    EXPECT_TRUE(p.master.samples.size() == n && p.slave.samples.size() == n);
    return p;
}

std::string file_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

stOffsetParInfo read_par(const std::string& path) {
    stOffsetParInfo par{};
    std::FILE* f = std::fopen(path.c_str(), "r");
    EXPECT_NE(f, nullptr) << path;
    if (f != nullptr) {
        testing::internal::CaptureStdout(); // the reader warns about the missing title
        read_offset_par(f, &par);
        testing::internal::GetCapturedStdout();
        std::fclose(f);
    }
    return par;
}

// Hann window of an n-sample crop, moved by `shift` samples.
double hann(double t, int n) {
    return t < -0.5 || t > n - 0.5 ? 0.0 : 0.5 - 0.5 * std::cos(2.0 * M_PI * (t + 0.5) / n);
}

// Spectrum of the n x n crop at (x0, y0), windowed by a Hann window moved by
// (sx, sy): a direct DFT in double precision, along x and then along y, each
// pass transposing. Element l * n + k is frequency (k, l).
std::vector<cd> windowed_spectrum(const Image& image, int x0, int y0, int n, double sx, double sy) {
    std::vector<cd> twiddle(n), a(static_cast<std::size_t>(n) * n), b(a.size());
    for (int i = 0; i < n; i++)
        twiddle[i] = std::polar(1.0, -2.0 * M_PI * i / n);
    for (int y = 0; y < n; y++)
        for (int x = 0; x < n; x++)
            a[y * n + x] = hann(x - sx, n) * hann(y - sy, n) * image.at(x0 + x, y0 + y);
    const auto dft_rows_transposed = [&](const std::vector<cd>& in, std::vector<cd>& out) {
        for (int r = 0; r < n; r++)
            for (int k = 0; k < n; k++) {
                cd sum = 0.0;
                for (int i = 0; i < n; i++)
                    sum += in[r * n + i] * twiddle[(k * i) % n];
                out[k * n + r] = sum;
            }
    };
    dft_rows_transposed(a, b);
    dft_rows_transposed(b, a);
    return a;
}

double signed_frequency(int k, int n) {
    return (k <= n / 2 ? k : k - n) / double(n);
}

// Sub-sample shift d with slave(p + d) = master(p) of the slave crop at
// (xs, ys) against the master crop at (xm, ym), crops aligned to within half
// a sample: the weighted least-squares slope of the cross spectrum's phase
// 2 pi (fx dx + fy dy) inside the band. A second pass moves the slave's
// window by the first estimate so both windows weight the same content.
void phase_slope_shift(const Pair& p, int xm, int ym, int xs, int ys, int n, double* dx,
                       double* dy) {
    const std::vector<cd> m = windowed_spectrum(p.master, xm, ym, n, 0.0, 0.0);
    const double f_max = 0.4 * p.options.occupancy;
    *dx = *dy = 0.0;
    for (int pass = 0; pass < 2; pass++) {
        const std::vector<cd> s = windowed_spectrum(p.slave, xs, ys, n, *dx, *dy);
        double a11 = 0, a12 = 0, a22 = 0, b1 = 0, b2 = 0;
        for (int l = 0; l < n; l++)
            for (int k = 0; k < n; k++) {
                const double fx = signed_frequency(k, n), fy = signed_frequency(l, n);
                if (std::fabs(fx) > f_max || std::fabs(fy) > f_max)
                    continue;
                const cd c = m[l * n + k] * std::conj(s[l * n + k]);
                const double w = std::abs(c), phase = std::arg(c) / (2.0 * M_PI);
                a11 += w * fx * fx, a12 += w * fx * fy, a22 += w * fy * fy;
                b1 += w * fx * phase, b2 += w * fy * phase;
            }
        const double det = a11 * a22 - a12 * a12;
        *dx = (a22 * b1 - a12 * b2) / det;
        *dy = (a11 * b2 - a12 * b1) / det;
    }
}

// The shift of the n x n master patch centred near (cx, cy) must match the
// polynomials at the patch centre.
void expect_local_shift(const Pair& p, int cx, int cy, int n, double tolerance) {
    const int x0 = cx - n / 2, y0 = cy - n / 2;
    const double xc = x0 + (n - 1) / 2.0, yc = y0 + (n - 1) / 2.0;
    const double dr = eval_offset_poly(p.options.range_offset_polynomial, xc, yc);
    const double da = eval_offset_poly(p.options.azimuth_offset_polynomial, xc, yc);
    const int ir = static_cast<int>(std::lround(dr)), ia = static_cast<int>(std::lround(da));
    double dx = 0, dy = 0;
    phase_slope_shift(p, x0, y0, x0 + ir, y0 + ia, n, &dx, &dy);
    EXPECT_NEAR(dx + ir, dr, tolerance) << "patch at " << cx << ", " << cy;
    EXPECT_NEAR(dy + ia, da, tolerance) << "patch at " << cx << ", " << cy;
}

// sum m s* / sqrt(sum |m|^2 sum |s|^2) with slave(x + dx, y + dy) against
// master(x, y), over the area both images hold; also the power ratio.
cd sample_coherence(const Pair& p, int dx, int dy, double* power_ratio) {
    cd cross = 0.0;
    double pm = 0.0, ps = 0.0;
    const int lines = p.options.lines, width = p.options.width;
    for (int y = std::max(0, -dy); y < std::min(lines, lines - dy); y++)
        for (int x = std::max(0, -dx); x < std::min(width, width - dx); x++) {
            const cd m = p.master.at(x, y), s = p.slave.at(x + dx, y + dy);
            cross += m * std::conj(s);
            pm += std::norm(m);
            ps += std::norm(s);
        }
    *power_ratio = ps / pm;
    return cross / std::sqrt(pm * ps);
}

TEST(SlcSimGeometry, ConstantSubsampleOffsetMatchesCrossSpectrumSlope) {
    SlcSimOptions o = options_for("constant", 384, 320, 3.37, -1.62);
    const Pair p = simulate(o);
    // The interpolator's delay error is ~1e-6 sample; aligned windows make
    // the measurement as good.
    for (int cy : {96, 224})
        for (int cx : {128, 256})
            expect_local_shift(p, cx, cy, 128, 1e-4);
}

TEST(SlcSimGeometry, VaryingOffsetsMatchPolynomialsLocally) {
    SlcSimOptions o = options_for("varying", 640, 576);
    // Offsets vary by a tenth of a sample over the image; a large constant
    // term tells master from slave coordinates (gradient x offset ~ 3e-3).
    const double range[6] = {12.3, 1.5e-4, -1.0e-4, 1.0e-7, 1.2e-7, -1.0e-7};
    const double azimuth[6] = {-8.6, -1.2e-4, 2.0e-4, -1.0e-7, 1.0e-7, 1.5e-7};
    std::copy(range, range + 6, o.range_offset_polynomial);
    std::copy(azimuth, azimuth + 6, o.azimuth_offset_polynomial);
    o.occupancy = 0.7;
    o.seed = 7;
    const Pair p = simulate(o);
    // Speckle puts each patch's effective centre a little off its geometric
    // centre; with these gradients that costs up to ~6e-4 sample.
    for (int cy : {96, 288, 480})
        for (int cx : {96, 320, 544})
            expect_local_shift(p, cx, cy, 96, 1e-3);
}

TEST(SlcSimGeometry, IntegerOffsetCopiesTheMasterExactly) {
    SlcSimOptions o = options_for("integer", 160, 128, 5.0, -3.0);
    const Pair p = simulate(o);
    for (int y = 3; y < o.lines; y++)
        for (int x = 0; x + 5 < o.width; x++)
            ASSERT_EQ(p.slave.at(x + 5, y - 3), p.master.at(x, y)) << x << ", " << y;
    // Slave pixels whose master position lies outside the master still hold
    // speckle.
    EXPECT_GT(std::norm(p.slave.at(2, 2)) + std::norm(p.slave.at(3, o.lines - 1)), 0.0);
}

TEST(SlcSimStatistics, CoherenceMatchesSampleCoherence) {
    for (double gamma : {0.35, 0.6, 0.9}) {
        SlcSimOptions o = options_for("coherence", 320, 256, -2.0, 4.0);
        o.coherence = gamma;
        double power_ratio = 0.0;
        const cd coherence = sample_coherence(simulate(o), -2, 4, &power_ratio);
        EXPECT_NEAR(std::abs(coherence), gamma, 0.01);
        EXPECT_NEAR(std::arg(coherence), 0.0, 0.02);
        EXPECT_NEAR(power_ratio, 1.0, 0.05);
    }
}

TEST(SlcSimStatistics, MasterIsBandLimitedSpeckleOfTheGivenOccupancy) {
    SlcSimOptions o = options_for("spectrum", 256, 256);
    o.occupancy = 0.6;
    const Pair p = simulate(o);
    cd mean = 0.0;
    double power = 0.0;
    for (const fcomplex& s : p.master.samples) {
        mean += cd(s.re, s.im);
        power += double(s.re) * s.re + double(s.im) * s.im;
    }
    const double n = double(p.master.samples.size());
    EXPECT_NEAR(power / n, 50.0, 2.5);
    EXPECT_LT(std::abs(mean / n), 0.1);

    const int size = 128;
    double outside = 0.0, total = 0.0, low = 0.0, high = 0.0;
    for (int y0 : {0, 128})
        for (int x0 : {0, 128}) {
            const std::vector<cd> s = windowed_spectrum(p.master, x0, y0, size, 0.0, 0.0);
            for (int l = 0; l < size; l++)
                for (int k = 0; k < size; k++) {
                    const double fx = std::fabs(signed_frequency(k, size));
                    const double fy = std::fabs(signed_frequency(l, size));
                    const double e = std::norm(s[l * size + k]), f = std::max(fx, fy);
                    total += e;
                    outside += f > 0.35 ? e : 0.0;
                    low += f < 0.1 ? e : 0.0;
                    high += f >= 0.15 && f < 0.25 ? e : 0.0;
                }
        }
    EXPECT_LT(outside / total, 1e-4);
    // Flat inside: the ring 0.15..0.25 spans 2.5 times the area of the
    // square below 0.1 (window smoothing aside).
    EXPECT_NEAR(high / low, (0.5 * 0.5 - 0.3 * 0.3) / (0.2 * 0.2), 0.4);
}

// Sizes, XML files, the SCOMPLEX layout and the parameter files; the tool's
// test checks the same bytes come out of the executable, and that they
// depend on the seed.
TEST(SlcSimFiles, FormatsLayoutsAndParameterFiles) {
    SlcSimOptions f = options_for("layout_f", 200, 120, 1.234567);
    f.range_offset_polynomial[1] = 1.23456789e-4;
    f.azimuth_offset_polynomial[5] = -2.5e-8;
    f.initial_range_offset = 7;
    f.initial_azimuth_offset = -4;
    SlcSimOptions s = options_for("layout_s", 200, 120);
    std::copy(f.range_offset_polynomial, f.range_offset_polynomial + 6, s.range_offset_polynomial);
    s.format = SlcFormat::scomplex;
    const Pair pf = simulate(f), ps = simulate(s);

    EXPECT_EQ(file_bytes(f.master_path).size(), 200u * 120u * 8u);
    EXPECT_EQ(file_bytes(s.slave_path).size(), 200u * 120u * 4u);
    // SCOMPLEX: the same field in counts of 0.001, little-endian 16-bit
    // integers, a good part of the 16-bit range used.
    const std::string raw = file_bytes(s.master_path);
    const auto part = [&](std::size_t byte) {
        return static_cast<int16_t>(static_cast<unsigned char>(raw[byte]) |
                                    static_cast<unsigned char>(raw[byte + 1]) << 8);
    };
    int peak = 0;
    for (std::size_t i = 0; i < pf.master.samples.size(); i++) {
        EXPECT_EQ(part(4 * i), std::lround(pf.master.samples[i].re * 1000.0)) << i;
        EXPECT_EQ(part(4 * i + 2), std::lround(pf.master.samples[i].im * 1000.0)) << i;
        EXPECT_FLOAT_EQ(ps.master.samples[i].re, static_cast<float>(part(4 * i) * 0.001));
        peak = std::max({peak, std::abs(part(4 * i)), std::abs(part(4 * i + 2))});
    }
    EXPECT_GT(peak, 12000);
    EXPECT_LT(peak, 32767);

    for (const SlcSimOptions* o : {&f, &s})
        for (const std::string& image : {o->master_path, o->slave_path}) {
            stSarImageInfo info;
            ASSERT_TRUE(read_sar_image_xml(image_xml_path(image), info)) << image;
            EXPECT_EQ(info.numberOfColumns, 200);
            EXPECT_EQ(info.numberOfRows, 120);
            EXPECT_EQ(info.imageDataType, o == &f ? "FCOMPLEX" : "SCOMPLEX");
        }

    const stOffsetParInfo par = read_par(f.offset_par_path);
    EXPECT_EQ(par.initial_range_offset, 7);
    EXPECT_EQ(par.initial_azimuth_offset, -4);
    for (int i = 0; i < 6; i++)
        EXPECT_EQ(par.range_offset_polynomial[i] + par.azimuth_offset_polynomial[i], 0.0);
    // The truth holds the polynomials as simulated: rounded to the layout.
    const stOffsetParInfo truth = read_par(f.truth_path);
    const double range[6] = {1.23457, 1.2346e-4, 0, 0, 0, 0};
    const double azimuth[6] = {0, 0, 0, 0, 0, -2.5e-8};
    for (int i = 0; i < 6; i++) {
        EXPECT_EQ(truth.range_offset_polynomial[i], range[i]) << i;
        EXPECT_EQ(truth.azimuth_offset_polynomial[i], azimuth[i]) << i;
    }
    EXPECT_TRUE(read_slc(f.master_path, 200, 121, SlcFormat::fcomplex).empty());
}

TEST(SlcSimFiles, RejectsInvalidOptions) {
    const struct {
        void (*change)(SlcSimOptions&);
        std::string error;
    } cases[] = {
        {[](SlcSimOptions& o) { o.coherence = 0.0; }, "coherence must lie in (0, 1]"},
        {[](SlcSimOptions& o) { o.lines = 0; }, "width and lines must be positive"},
        {[](SlcSimOptions& o) { o.occupancy = 1.5; }, "occupancy must lie in (0, 1]"},
        {[](SlcSimOptions& o) { o.truth_path.clear(); }, "every output path must be given"},
        // x + dr = -1.5 x + ...: no fixed point iteration
        {[](SlcSimOptions& o) { o.range_offset_polynomial[1] = -2.5; },
         "offset polynomials cannot be inverted"},
        {[](SlcSimOptions& o) { o.master_path = FC_TEST_TMP_DIR "/missing_dir/m.slc"; },
         "cannot write " FC_TEST_TMP_DIR "/missing_dir/m.slc"},
    };
    for (const auto& c : cases) {
        SlcSimOptions o = options_for("invalid", 64, 64);
        c.change(o);
        std::string error;
        EXPECT_FALSE(simulate_slc_pair(o, &error));
        // Exact, but for where the inversion fails.
        EXPECT_EQ(error.substr(0, error.find(" at slave position")), c.error);
    }
}

TEST(SlcSimFiles, XmlPathReplacesTheLastExtension) {
    EXPECT_EQ(image_xml_path("/data/scene.slc"), "/data/scene.xml");
    EXPECT_EQ(image_xml_path("/data.old/image"), "/data.xml");
    EXPECT_EQ(image_xml_path("image"), "image.xml");
}

} // namespace
