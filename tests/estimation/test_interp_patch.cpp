#include "estimation/interp_patch.h"
#include "numeric/alloc.h"

#include <cmath>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using ::testing::ExitedWithCode;

std::vector<fcomplex> design(double wc, int nfft) {
    std::vector<fcomplex> filt(nfft, fcomplex{7.0f, 7.0f});
    testing::internal::CaptureStdout(); // the design reports itself
    bp_filter(M_PI, wc, 9, nfft, 0.5, filt.data());
    testing::internal::GetCapturedStdout();
    return filt;
}

TEST(BpFilter, HalfBandTapsInCircularOrder) {
    const auto filt = design(0.0, 64);
    const double expected[5] = {0.5, 0.317358, 0.0, -0.103264, 0.0};
    for (int t = 0; t <= 4; t++) {
        EXPECT_NEAR(filt[t].re, expected[t], 1e-6) << "lag " << t;
        EXPECT_EQ(filt[t].re, filt[(64 - t) % 64].re) << "lag " << t;
    }
    for (int i = 0; i < 64; i++) {
        EXPECT_EQ(filt[i].im, 0.0f);
        if (i > 4 && i < 60) {
            EXPECT_EQ(filt[i].re, 0.0f) << "index " << i;
        }
    }
}

void set_up(int nx, int ny, int ovr) {
    testing::internal::CaptureStdout(); // the set-up reports the filter design
    interp_patch(nullptr, nullptr, nx, ny, ovr, 1);
    testing::internal::GetCapturedStdout();
}

TEST(InterpPatch, ConstantPatchGivesPublishedInterpolationGains) {
    const int nx = 32, ny = 16, ovr = 2;
    set_up(nx, ny, ovr);
    Array2D<fcomplex> in(nx, ny), out(ovr * nx, ovr * ny);
    for (int r = 0; r < ny; r++)
        for (int c = 0; c < nx; c++)
            in[r][c] = fcomplex{1.5f, -0.5f};
    interp_patch(in.get(), out.get(), nx, ny, ovr, 0);

    const double gain[2] = {1.0, 0.856375};
    for (int r = 0; r < ovr * ny; r++) {
        for (int c = 0; c < ovr * nx; c++) {
            EXPECT_NEAR(out[r][c].re, 1.5 * gain[r % 2] * gain[c % 2], 4e-6) << r << "," << c;
            EXPECT_NEAR(out[r][c].im, -0.5 * gain[r % 2] * gain[c % 2], 4e-6) << r << "," << c;
        }
    }
    EXPECT_NEAR(out[1][1].re / 1.5, 0.733378, 2e-6);
}

// A single sample spreads into the separable tap array, wrapping around both
// edges of the oversampled grid.
TEST(InterpPatch, SingleSampleReproducesSeparableTapsCircularly) {
    const int nx = 32, ny = 16, ovr = 2, Nx = 64, Ny = 32;
    const auto hx = design(0.0, Nx), hy = design(0.0, Ny);
    set_up(nx, ny, ovr);

    Array2D<fcomplex> in(nx, ny), out(Nx, Ny);
    const int r0 = ny - 1, c0 = 0; // lands at (30, 0): lags reach lines 0..2 and samples 60..63
    in[r0][c0] = fcomplex{2.0f, 1.0f};
    for (int r = 0; r < Ny; r++)
        for (int c = 0; c < Nx; c++)
            out[r][c] = fcomplex{9.0f, 9.0f}; // all of out must be overwritten
    interp_patch(in.get(), out.get(), nx, ny, ovr, 0);

    for (int r = 0; r < Ny; r++) {
        for (int c = 0; c < Nx; c++) {
            const int a = (r - ovr * r0 + Ny) % Ny; // circular lag index of the taps
            const int b = (c - ovr * c0 + Nx) % Nx;
            const double h = ovr * ovr * static_cast<double>(hy[a].re) * hx[b].re;
            EXPECT_NEAR(out[r][c].re, 2.0 * h, 2e-6) << r << "," << c;
            EXPECT_NEAR(out[r][c].im, 1.0 * h, 2e-6) << r << "," << c;
        }
    }
    // The same against the published taps: lags (+1, +1) and, wrapped, (+3, -1).
    EXPECT_NEAR(out[31][1].re, 2.0 * 4 * 0.317358 * 0.317358, 1e-5);
    EXPECT_NEAR(out[1][63].re, 2.0 * 4 * -0.103264 * 0.317358, 1e-5);
}

TEST(InterpPatchDeathTest, OversamplingBeforeSetUpOrWithOtherSizesIsFatal) {
    Array2D<fcomplex> in(16, 16), out(32, 32);
    EXPECT_EXIT(
        {
            release_interp_filter();
            interp_patch(in.get(), out.get(), 8, 8, 2, 0);
        },
        ExitedWithCode(255), "interp_patch: oversampling requested before the filter set-up");
    set_up(8, 8, 2);
    EXPECT_EXIT(interp_patch(in.get(), out.get(), 16, 8, 2, 0), ExitedWithCode(255),
                "patch 16 x 8 \\(factor 2\\) does not match the filter set up for 8 x 8");
    EXPECT_EXIT(interp_patch(in.get(), out.get(), 8, 8, 1, 0), ExitedWithCode(255),
                "does not match");
}

} // namespace
