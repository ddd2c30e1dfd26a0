// The per-position measurement chain as stage 1 runs it: ramp removal,
// oversampling by 2, intensity correlation and peak search, on speckle patches
// with a known sub-sample displacement.
#include "estimation/corr_peak.h"
#include "estimation/interp_patch.h"
#include "estimation/patch_prep.h"
#include "numeric/alloc.h"

#include <cmath>
#include <complex>
#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace {

using cd = std::complex<double>;
constexpr int kW = 64, kH = 64; // window width and height
constexpr int kOvr = 2;

// Band-limited complex speckle: a complex Gaussian spectrum on a band of
// (2 half_band + 1)^2 bins off zero frequency (so the patches carry a phase
// ramp), evaluated by a direct inverse DFT at positions shifted by (dx, dy).
// patch(dx, dy)(x, y) = patch(0, 0)(x - dx, y - dy): the content moves by +d.
class Speckle {
public:
    Speckle(unsigned seed, int centre_x, int centre_y, int half_band)
        : cx_(centre_x), cy_(centre_y), b_(half_band), spectrum_((2 * b_ + 1) * (2 * b_ + 1)) {
        std::mt19937 gen(seed);
        std::normal_distribution<double> g;
        for (cd& s : spectrum_)
            s = cd(g(gen), g(gen));
    }

    Array2D<fcomplex> patch(double dx, double dy) const {
        const int n = 2 * b_ + 1;
        // Along lines first, then across: O(n W H + n^2 W).
        std::vector<cd> rows(n * kW);
        for (int j = 0; j < n; j++)
            for (int x = 0; x < kW; x++) {
                cd sum = 0;
                for (int i = 0; i < n; i++)
                    sum += spectrum_[j * n + i] *
                           std::polar(1.0, 2 * M_PI * (cx_ + i - b_) * (x - dx) / kW);
                rows[j * kW + x] = sum;
            }
        Array2D<fcomplex> p(kW, kH);
        for (int y = 0; y < kH; y++)
            for (int x = 0; x < kW; x++) {
                cd sum = 0;
                for (int j = 0; j < n; j++)
                    sum += rows[j * kW + x] *
                           std::polar(1.0, 2 * M_PI * (cy_ + j - b_) * (y - dy) / kH);
                sum /= n;
                p[y][x] = fcomplex{static_cast<float>(sum.real()), static_cast<float>(sum.imag())};
            }
        return p;
    }

private:
    int cx_, cy_, b_;
    std::vector<cd> spectrum_;
};

struct Measurement {
    double range, azimuth, snr;
};

class KernelChain : public ::testing::Test {
protected:
    void SetUp() override {
        testing::internal::CaptureStdout();
        interp_patch(P1.get(), O1.get(), kW, kH, kOvr, 1);
        testing::internal::GetCapturedStdout();
        double unused;
        corr_peak(X.get(), kOvr * kW, kOvr * kH, 3, &unused, &unused, 1);
    }

    // Offset of the slave against the master in samples and lines; each patch
    // is deramped and clipped at 5 times its mean intensity.
    Measurement measure(const Array2D<fcomplex>& master, const Array2D<fcomplex>& slave) {
        double clip[2] = {0, 0}, rs, as;
        for (int i = 0; i < 2; i++) {
            Array2D<fcomplex>& p = i ? P2 : P1;
            for (int r = 0; r < kH; r++)
                for (int c = 0; c < kW; c++) {
                    p[r][c] = (i ? slave : master)[r][c];
                    clip[i] += double(p[r][c].re) * p[r][c].re + double(p[r][c].im) * p[r][c].im;
                }
            clip[i] = 5.0 * clip[i] / (kW * kH);
            phase_slope(p.get(), 0, 0, kW, kH, &rs, &as);
            deramp_patch(p.get(), kW, kH, -rs, -as);
            interp_patch(p.get(), (i ? O2 : O1).get(), kW, kH, kOvr, 0);
        }
        intensity_xcorr(O1.get(), O2.get(), I1.get(), I2.get(), X.get(), kW, kH, clip[0], clip[1]);
        double xp = 0, yp = 0;
        const double snr = corr_peak(X.get(), kOvr * kW, kOvr * kH, 3, &xp, &yp, 0);
        return {xp * 0.5, yp * 0.5, snr};
    }

    Array2D<fcomplex> P1{kW, kH}, P2{kW, kH};
    Array2D<fcomplex> O1{kOvr * kW, kOvr*kH}, O2{kOvr * kW, kOvr*kH};
    Array2D<fcomplex> I1{kOvr * kW, kOvr*kH}, I2{kOvr * kW, kOvr*kH};
    Array2D<fcomplex> X{kOvr * kW, kOvr* kH};
};

TEST_F(KernelChain, RecoversSubSampleShiftWithItsSign) {
    const Speckle field(21, 9, -5, 20);
    const Array2D<fcomplex> master = field.patch(0.0, 0.0);
    for (const auto& d : {std::pair<double, double>{2.3, -1.6}, {-3.7, 0.45}, {0.0, 0.0}}) {
        const Array2D<fcomplex> slave = field.patch(d.first, d.second);
        const Measurement m = measure(master, slave);
        EXPECT_NEAR(m.range, d.first, 0.1);
        EXPECT_NEAR(m.azimuth, d.second, 0.1);
        EXPECT_GT(m.snr, 20.0);
        // Swapping the roles reverses the offset.
        const Measurement back = measure(slave, master);
        EXPECT_NEAR(back.range, -d.first, 0.1);
        EXPECT_NEAR(back.azimuth, -d.second, 0.1);
    }
}

TEST_F(KernelChain, IndependentNoiseLowersSnrButKeepsThePeak) {
    const Speckle field(22, -7, 4, 20);
    const Speckle noise(99, -7, 4, 20);
    const double dx = 1.25, dy = 2.6;
    const Array2D<fcomplex> master = field.patch(0.0, 0.0);
    const Array2D<fcomplex> clean = field.patch(dx, dy);
    const Array2D<fcomplex> noise_patch = noise.patch(0.0, 0.0); // as strong as the signal
    Array2D<fcomplex> noisy = field.patch(dx, dy);
    for (int r = 0; r < kH; r++)
        for (int c = 0; c < kW; c++) {
            noisy[r][c].re += noise_patch[r][c].re;
            noisy[r][c].im += noise_patch[r][c].im;
        }

    const Measurement ref = measure(master, clean);
    const Measurement m = measure(master, noisy);
    EXPECT_NEAR(m.range, dx, 0.2);
    EXPECT_NEAR(m.azimuth, dy, 0.2);
    EXPECT_LT(m.snr, 0.8 * ref.snr);
    EXPECT_GT(m.snr, 5.0);
}

} // namespace
