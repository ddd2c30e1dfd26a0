#include "estimation/patch_prep.h"
#include "numeric/alloc.h"

#include <cmath>
#include <complex>
#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace {

using cd = std::complex<double>;

cd as_complex(fcomplex v) {
    return {v.re, v.im};
}

// Constant amplitude 2, phase phi0 + k alpha + r beta.
Array2D<fcomplex> ramp_patch(int nx, int ny, double phi0, double alpha, double beta) {
    Array2D<fcomplex> p(nx, ny);
    for (int r = 0; r < ny; r++) {
        for (int k = 0; k < nx; k++) {
            const cd v = std::polar(2.0, phi0 + k * alpha + r * beta);
            p[r][k] = fcomplex{static_cast<float>(v.real()), static_cast<float>(v.imag())};
        }
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
            if (r == 0 || k == 0) {
                EXPECT_EQ(p[r][k].re, orig[r][k].re);
                EXPECT_EQ(p[r][k].im, orig[r][k].im);
            } else {
                EXPECT_NEAR(std::arg(as_complex(p[r][k])), phi0, 1e-5) << r << "," << k;
                EXPECT_NEAR(std::abs(as_complex(p[r][k])), 2.0, 1e-5);
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
                p[r][k] = fcomplex{1.0f, static_cast<float>(r * k % 3)};
    // A strong sample with zero real part inside: it and its neighbours drop out.
    p[6][8] = fcomplex{0.0f, 50.0f};
    double rs = 0, as = 0;
    phase_slope(p.get(), 4, 3, 12, 9, &rs, &as);
    EXPECT_NEAR(rs, 0.5, 1e-6);
    EXPECT_NEAR(as, 0.25, 1e-6);
}

TEST(PhaseSlope, NoQualifyingSampleGivesZeroSlopes) {
    Array2D<fcomplex> p(8, 8);
    for (int r = 0; r < 8; r++)
        for (int k = 0; k < 8; k++)
            p[r][k] = fcomplex{0.0f, 1.0f + r + k};
    double rs = 5, as = 5;
    phase_slope(p.get(), 0, 0, 8, 8, &rs, &as);
    EXPECT_EQ(rs, 0.0);
    EXPECT_EQ(as, 0.0);

    Array2D<fcomplex> q = ramp_patch(8, 8, 0.0, 0.5, 0.25);
    rs = as = 5;
    phase_slope(q.get(), 0, 0, 1, 8, &rs, &as); // one sample per line: no previous sample
    EXPECT_EQ(rs, 0.0);
    EXPECT_EQ(as, 0.0);
}

TEST(DerampPatch, MultipliesByAccumulatedRampAndKeepsEdges) {
    const int nx = 9, ny = 7;
    Array2D<fcomplex> p(nx, ny);
    std::mt19937 gen(3);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    for (int r = 0; r < ny; r++)
        for (int k = 0; k < nx; k++)
            p[r][k] = fcomplex{u(gen), u(gen)};
    Array2D<fcomplex> q(nx, ny);
    for (int r = 0; r < ny; r++)
        for (int k = 0; k < nx; k++)
            q[r][k] = p[r][k];

    deramp_patch(q.get(), nx, ny, 0.0, 0.0);
    for (int r = 0; r < ny; r++)
        for (int k = 0; k < nx; k++)
            EXPECT_TRUE(q[r][k].re == p[r][k].re && q[r][k].im == p[r][k].im);

    const double step_x = 0.7, step_y = -2.1;
    deramp_patch(q.get(), nx, ny, step_x, step_y);
    for (int r = 0; r < ny; r++) {
        for (int k = 0; k < nx; k++) {
            const cd expected =
                (r == 0 || k == 0) ? as_complex(p[r][k])
                                   : as_complex(p[r][k]) * std::polar(1.0, r * step_y + k * step_x);
            EXPECT_NEAR(q[r][k].re, expected.real(), 1e-6) << r << "," << k;
            EXPECT_NEAR(q[r][k].im, expected.imag(), 1e-6) << r << "," << k;
        }
    }
}

// Correlation of two oversampled patches: ny = 2H lines of nx = 2W samples.
struct XcorrArrays {
    XcorrArrays(int W, int H)
        : nx(2 * W), ny(2 * H), O1(nx, ny), O2(nx, ny), I1(nx, ny), I2(nx, ny), X(nx, ny) {}
    void run(int W, int H, double clip1, double clip2) {
        intensity_xcorr(O1.get(), O2.get(), I1.get(), I2.get(), X.get(), W, H, clip1, clip2);
    }
    int nx, ny;
    Array2D<fcomplex> O1, O2, I1, I2, X;
};

void fill_random(Array2D<fcomplex>& a, int nx, int ny, unsigned seed) {
    std::mt19937 gen(seed);
    std::normal_distribution<float> g;
    for (int r = 0; r < ny; r++)
        for (int c = 0; c < nx; c++)
            a[r][c] = fcomplex{g(gen), g(gen)};
}

double intensity(fcomplex v) {
    return static_cast<double>(v.re) * v.re + static_cast<double>(v.im) * v.im;
}

// Against a direct circular correlation of the mean-free intensities:
// X[ty][tx] = |sum_m I2(m + t) I1(m)| / (nx ny), maximal at the slave's displacement.
TEST(IntensityXcorr, MatchesDirectCircularCorrelation) {
    const int W = 8, H = 4; // W != H: every sample of every line must be covered
    XcorrArrays a(W, H);
    fill_random(a.O1, a.nx, a.ny, 5);
    const int dy = 3, dx = -5; // slave position = master position + (dy, dx)
    for (int r = 0; r < a.ny; r++)
        for (int c = 0; c < a.nx; c++)
            a.O2[(r + dy + a.ny) % a.ny][(c + dx + a.nx) % a.nx] = a.O1[r][c];
    a.run(W, H, 1e30, 1e30);

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
            const double expected = std::fabs(sum) / n;
            EXPECT_NEAR(a.X[ty][tx].re, expected, 1e-5) << ty << "," << tx;
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

TEST(IntensityXcorr, IdenticalPatchesPeakAtOrigin) {
    const int W = 4, H = 8;
    XcorrArrays a(W, H);
    fill_random(a.O1, a.nx, a.ny, 6);
    for (int r = 0; r < a.ny; r++)
        for (int c = 0; c < a.nx; c++)
            a.O2[r][c] = a.O1[r][c];
    a.run(W, H, 1e30, 1e30);
    for (int r = 0; r < a.ny; r++) {
        for (int c = 0; c < a.nx; c++) {
            EXPECT_GE(a.X[r][c].re, 0.0f);
            EXPECT_EQ(a.X[r][c].im, 0.0f);
            if (r || c) {
                EXPECT_LT(a.X[r][c].re, a.X[0][0].re);
            }
        }
    }
}

// Recovers the clipped, mean-free intensity from I1 (its spectrum scaled by
// 1/N) with a direct inverse transform.
double mean_free_intensity(const XcorrArrays& a, int r, int c) {
    cd sum = 0;
    for (int ky = 0; ky < a.ny; ky++)
        for (int kx = 0; kx < a.nx; kx++)
            sum += as_complex(a.I1[ky][kx]) *
                   std::polar(1.0, -2 * M_PI *
                                       (static_cast<double>(ky) * r / a.ny +
                                        static_cast<double>(kx) * c / a.nx));
    return sum.real();
}

TEST(IntensityXcorr, ClipsAboveTheClipValueOnly) {
    const int W = 4, H = 4;
    XcorrArrays a(W, H);
    for (int r = 0; r < a.ny; r++)
        for (int c = 0; c < a.nx; c++)
            a.O1[r][c] = fcomplex{1.0f, 0.0f};
    a.O1[1][2] = fcomplex{2.0f, 0.0f}; // intensity 4: equal to the clip value, kept
    a.O1[5][7] = fcomplex{3.0f, 0.0f}; // intensity 9: above, clipped to 4
    a.run(W, H, 4.0, 1e30);
    const double base = mean_free_intensity(a, 0, 0);
    EXPECT_NEAR(mean_free_intensity(a, 1, 2) - base, 3.0, 1e-5);
    EXPECT_NEAR(mean_free_intensity(a, 5, 7) - base, 3.0, 1e-5);

    a.run(W, H, 2.3, 1e30); // a clip value that is no float: the float nearest it is stored
    EXPECT_NEAR(mean_free_intensity(a, 5, 7) - mean_free_intensity(a, 0, 0),
                static_cast<double>(2.3f) - 1.0, 1e-6);
}

} // namespace
