#include "estimation/patch_prep.h"

#include "estimation/elementwise_passes.h"
#include "estimation/fft.h"
#include "estimation/interp_patch.h"

#include <cmath>
#include <cstddef>
#include <cstdint>

void phase_slope(fcomplex** patch, int x0, int y0, int nx, int ny, double* rangeSlope,
                 double* azimuthSlope) {
    double range_re = 0.0, range_im = 0.0;
    double azimuth_re = 0.0, azimuth_im = 0.0;

    for (int r = y0 + 1; r < y0 + ny; r++) {
        for (int k = x0 + 1; k < x0 + nx; k++) {
            const fcomplex a = patch[r][k];
            const fcomplex b = patch[r][k - 1];
            const fcomplex d = patch[r - 1][k];
            // Zero real parts mark missing data (zero fill at image edges).
            if (a.re == 0.0f || d.re == 0.0f || b.re == 0.0f)
                continue;
            const float along_re = b.im * a.im + b.re * a.re;
            const float along_im = b.re * a.im - b.im * a.re;
            const float across_re = a.im * d.im + d.re * a.re;
            const float across_im = a.im * d.re - d.im * a.re;
            range_re += along_re;
            range_im += along_im;
            azimuth_re += across_re;
            azimuth_im += across_im;
        }
    }

    *rangeSlope = 0.0;
    *azimuthSlope = 0.0;
    if (range_re != 0.0)
        *rangeSlope = std::atan2(range_im, range_re);
    if (azimuth_re != 0.0)
        *azimuthSlope = std::atan2(azimuth_im, azimuth_re);
}

namespace {

// Lines firstLine .. firstLine + N - 1 of deramp_patch, side by side: each
// line's rotation is a chain of dependent products, and N independent chains
// keep the processor busy where one would wait on each product. Every sample
// still sees exactly the operations of its own line's chain.
template <int N>
void deramp_lines(fcomplex** patch, int firstLine, int nx, double cos_step, double sin_step,
                  double azimuthStep) {
    double c[N], s[N];
    fcomplex* line[N];
    for (int g = 0; g < N; g++) {
        const double theta = static_cast<double>(firstLine + g) * azimuthStep;
        c[g] = std::cos(theta);
        s[g] = std::sin(theta);
        line[g] = patch[firstLine + g];
    }
    for (int k = 1; k < nx; k++)
        for (int g = 0; g < N; g++) {
            // The angle along the line advances by rotation, not by sin/cos per sample.
            const double c_next = c[g] * cos_step - s[g] * sin_step;
            const double s_next = c[g] * sin_step + s[g] * cos_step;
            c[g] = c_next;
            s[g] = s_next;
            const double re = line[g][k].re;
            const double im = line[g][k].im;
            line[g][k].re = static_cast<float>(c[g] * re - s[g] * im);
            line[g][k].im = static_cast<float>(c[g] * im + s[g] * re);
        }
}

} // namespace

void deramp_patch(fcomplex** patch, int nx, int ny, double rangeStep, double azimuthStep) {
    const double cos_step = std::cos(rangeStep);
    const double sin_step = std::sin(rangeStep);
    constexpr int kChains = 4;
    int r = 1;
    for (; r + kChains <= ny; r += kChains)
        deramp_lines<kChains>(patch, r, nx, cos_step, sin_step, azimuthStep);
    for (; r < ny; r++)
        deramp_lines<1>(patch, r, nx, cos_step, sin_step, azimuthStep);
}

namespace {

float* unit_offset(fcomplex** lines) {
    return reinterpret_cast<float*>(lines[0]) - 1;
}

} // namespace

void intensity_xcorr(fcomplex** O1, fcomplex** O2, fcomplex** I1, fcomplex** I2, fcomplex** X,
                     int W, int H, double clip1, double clip2) {
    const int nx = 2 * W;
    const int ny = 2 * H;

    // Every sample is written once, its imaginary part +0 with the real one.
    for (int r = 0; r < ny; r++) {
        clipped_intensities(O1[r], I1[r], static_cast<std::size_t>(nx), clip1);
        clipped_intensities(O2[r], I2[r], static_cast<std::size_t>(nx), clip2);
    }

    const std::uint32_t nn[3] = {0, static_cast<std::uint32_t>(ny), static_cast<std::uint32_t>(nx)};
    fft_nd(unit_offset(I1), nn, 2, 1);
    fft_nd(unit_offset(I2), nn, 2, 1);

    // Dropping the zero-frequency terms removes each intensity patch's mean.
    I1[0][0].re = 0.0f;
    I2[0][0].re = 0.0f;

    const double scale = 1.0 / static_cast<double>(nx * ny);
    for (int r = 0; r < ny; r++)
        scaled_cross_spectrum(I1[r], I2[r], X[r], static_cast<std::size_t>(nx), scale);

    fft_nd(unit_offset(X), nn, 2, -1);

    for (int r = 0; r < ny; r++)
        magnitudes(X[r], static_cast<std::size_t>(nx));
}
