// The per-position measurement chain (measure_window): ramp removal,
// oversampling by 2, intensity correlation and peak fit, on speckle patches
// displaced by exact Fourier shifts.
#include "estimation/measure_window.h"

#include <cmath>
#include <complex>
#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace {

using cd = std::complex<double>;
constexpr int kW = 64, kH = 64; // window width and height

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

// Offset of the slave against the master; each patch clipped at 5 times its
// mean intensity.
WindowMeasurement measure(const Array2D<fcomplex>& master, const Array2D<fcomplex>& slave) {
    ::testing::internal::CaptureStdout(); // the filter set-up reports itself
    WindowWorkspace ws(kW, kH);
    ::testing::internal::GetCapturedStdout();
    double clip[2] = {0, 0};
    for (int i = 0; i < 2; i++)
        for (int r = 0; r < kH; r++)
            for (int c = 0; c < kW; c++) {
                const fcomplex v = (i ? slave : master)[r][c];
                (i ? ws.slave_patch() : ws.master_patch())[r][c] = v;
                clip[i] += 5.0 * (double(v.re) * v.re + double(v.im) * v.im) / (kW * kH);
            }
    return measure_window(ws, clip[0], clip[1]);
}

TEST(MeasureWindow, RecoversSubSampleShiftWithItsSign) {
    const Speckle field(21, 9, -5, 20);
    const Array2D<fcomplex> master = field.patch(0.0, 0.0);
    for (const auto& d : {std::pair<double, double>{2.3, -1.6}, {-3.7, 0.45}, {0.0, 0.0}}) {
        const Array2D<fcomplex> slave = field.patch(d.first, d.second);
        const WindowMeasurement m = measure(master, slave);
        EXPECT_NEAR(m.rangeShift, d.first, 0.1);
        EXPECT_NEAR(m.azimuthShift, d.second, 0.1);
        EXPECT_GT(m.snr, 20.0);
        // Swapping the roles reverses the offset.
        const WindowMeasurement back = measure(slave, master);
        EXPECT_NEAR(back.rangeShift, -d.first, 0.1);
        EXPECT_NEAR(back.azimuthShift, -d.second, 0.1);
    }
}

} // namespace
