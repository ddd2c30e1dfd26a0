#include "estimation/patch_prep.h"
#include "numeric/alloc.h"

#include <cmath>
#include <complex>
#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace {

using cd = std::complex<double>;

// Constant amplitude 2, phase phi0 + k alpha + r beta.
Array2D<fcomplex> ramp_patch(int nx, int ny, double phi0, double alpha, double beta) {
    Array2D<fcomplex> p(nx, ny);
    for (int r = 0; r < ny; r++)
        for (int k = 0; k < nx; k++) {
            const cd v = std::polar(2.0, phi0 + k * alpha + r * beta);
            p[r][k] = fcomplex{float(v.real()), float(v.imag())};
        }
    return p;
}

TEST(PhaseSlope, RecoversRampAndDerampRestoresFirstPhase) {
    const int nx = 16, ny = 12;
    const double phi0 = 0.4, alpha = 2.9, beta = -1.2;
    Array2D<fcomplex> p = ramp_patch(nx, ny, phi0, alpha, beta);
    const Array2D<fcomplex> orig = ramp_patch(nx, ny, phi0, alpha, beta);

    double rs = 0, as = 0;
    phase_slope(p.get(), 0, 0, nx, ny, &rs, &as);
    EXPECT_NEAR(rs, alpha, 1e-6);
    EXPECT_NEAR(as, beta, 1e-6);

    deramp_patch(p.get(), nx, ny, -rs, -as);
    for (int r = 0; r < ny; r++) {
        for (int k = 0; k < nx; k++) {
            const cd v(p[r][k].re, p[r][k].im);
            if (r == 0 || k == 0) {
                EXPECT_EQ(v, cd(orig[r][k].re, orig[r][k].im)) << r << "," << k;
            } else {
                EXPECT_NEAR(std::arg(v), phi0, 1e-5) << r << "," << k;
                EXPECT_NEAR(std::abs(v), 2.0, 1e-5) << r << "," << k;
            }
        }
    }
}

TEST(PhaseSlope, SubWindowAndZeroRealPartsAreSkipped) {
    const int nx = 16, ny = 12;
    Array2D<fcomplex> p = ramp_patch(nx, ny, 0.0, 0.5, 0.25);
    // Outside the window at (x0, y0) = (4, 3): a different ramp that must not count.
    for (int r = 0; r < ny; r++)
        for (int k = 0; k < nx; k++)
            if (r < 3 || k < 4)
                p[r][k] = fcomplex{1.0f, float(r * k % 3)};
    // A strong sample with zero real part inside: it and its neighbours drop out.
    p[6][8] = fcomplex{0.0f, 50.0f};
    double rs = 0, as = 0;
    phase_slope(p.get(), 4, 3, 12, 9, &rs, &as);
    EXPECT_NEAR(rs, 0.5, 1e-6);
    EXPECT_NEAR(as, 0.25, 1e-6);
}

// Correlation of two oversampled patches: ny = 2H lines of nx = 2W samples.
struct XcorrArrays {
    XcorrArrays(int W, int H, unsigned seed)
        : W(W), H(H), nx(2 * W), ny(2 * H), O1(nx, ny), O2(nx, ny), I1(nx, ny), I2(nx, ny),
          X(nx, ny) {
        std::mt19937 gen(seed);
        std::normal_distribution<float> g;
        for (int r = 0; r < ny; r++)
            for (int c = 0; c < nx; c++)
                O1[r][c] = fcomplex{g(gen), g(gen)};
    }
    void run(double clip1, double clip2) {
        intensity_xcorr(O1.get(), O2.get(), I1.get(), I2.get(), X.get(), W, H, clip1, clip2);
    }
    // The slave is the master moved circularly by (dy, dx).
    void shift_into_slave(int dy, int dx) {
        for (int r = 0; r < ny; r++)
            for (int c = 0; c < nx; c++)
                O2[(r + dy + ny) % ny][(c + dx + nx) % nx] = O1[r][c];
    }
    int W, H, nx, ny;
    Array2D<fcomplex> O1, O2, I1, I2, X;
};

double intensity(fcomplex v) {
    return double(v.re) * v.re + double(v.im) * v.im;
}

// Against a direct circular correlation of the mean-free intensities:
// X[ty][tx] = |sum_m I2(m + t) I1(m)| / (nx ny), maximal at the slave's displacement.
TEST(IntensityXcorr, MatchesDirectCircularCorrelation) {
    XcorrArrays a(8, 4, 5); // W != H: every sample of every line must be covered
    const int dy = 3, dx = -5;
    a.shift_into_slave(dy, dx);
    a.run(1e30, 1e30);

    const int n = a.nx * a.ny;
    std::vector<double> i1(n), i2(n);
    double m1 = 0, m2 = 0;
    for (int k = 0; k < n; k++) {
        i1[k] = intensity(a.O1[k / a.nx][k % a.nx]);
        i2[k] = intensity(a.O2[k / a.nx][k % a.nx]);
        m1 += i1[k] / n;
        m2 += i2[k] / n;
    }
    double best = -1;
    int best_r = -1, best_c = -1;
    for (int ty = 0; ty < a.ny; ty++) {
        for (int tx = 0; tx < a.nx; tx++) {
            double sum = 0;
            for (int r = 0; r < a.ny; r++)
                for (int c = 0; c < a.nx; c++)
                    sum += (i2[((r + ty) % a.ny) * a.nx + (c + tx) % a.nx] - m2) *
                           (i1[r * a.nx + c] - m1);
            EXPECT_NEAR(a.X[ty][tx].re, std::fabs(sum) / n, 1e-5) << ty << "," << tx;
            EXPECT_EQ(a.X[ty][tx].im, 0.0f);
            if (a.X[ty][tx].re > best) {
                best = a.X[ty][tx].re;
                best_r = ty;
                best_c = tx;
            }
        }
    }
    EXPECT_EQ(best_r, dy);
    EXPECT_EQ(best_c, dx + a.nx);
}

// Clipped, mean-free intensity at (r, c) minus that at (0, 0), recovered from
// I1 (its spectrum scaled by 1/N) with a direct inverse transform.
double intensity_above_origin(const XcorrArrays& a, int r, int c) {
    cd sum = 0;
    for (int ky = 0; ky < a.ny; ky++)
        for (int kx = 0; kx < a.nx; kx++)
            sum += cd(a.I1[ky][kx].re, a.I1[ky][kx].im) *
                   (std::polar(1.0, -2 * M_PI * (double(ky) * r / a.ny + double(kx) * c / a.nx)) -
                    1.0);
    return sum.real();
}

TEST(IntensityXcorr, ClipsAboveTheClipValueOnly) {
    XcorrArrays a(4, 4, 7);
    for (int r = 0; r < a.ny; r++)
        for (int c = 0; c < a.nx; c++)
            a.O1[r][c] = fcomplex{1.0f, 0.0f};
    a.O1[1][2] = fcomplex{2.0f, 0.0f}; // intensity 4: equal to the clip value, kept
    a.O1[5][7] = fcomplex{3.0f, 0.0f}; // intensity 9: above, clipped to 4
    a.run(4.0, 1e30);
    EXPECT_NEAR(intensity_above_origin(a, 1, 2), 3.0, 1e-5);
    EXPECT_NEAR(intensity_above_origin(a, 5, 7), 3.0, 1e-5);

    a.run(2.3, 1e30); // a clip value that is no float: the float nearest it is stored
    EXPECT_NEAR(intensity_above_origin(a, 5, 7), double(2.3f) - 1.0, 1e-6);
}

} // namespace
