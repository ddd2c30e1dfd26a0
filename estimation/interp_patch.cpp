#include "estimation/interp_patch.h"

#include "estimation/elementwise_passes.h"
#include "estimation/fft.h"
#include "numeric/alloc.h"
#include "numeric/fatal.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <utility>

namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr double kPi = 3.141592653589793;
constexpr double kKaiserBeta = 0.5;

// The filter of the last set-up and the patch lines of the module-level
// calls. Static owners, so both are freed when replaced and when the library
// is unloaded.
std::shared_ptr<const OversamplingFilter> g_filter;
Block1D<const float*> g_patchLines;

float* unit_offset(fcomplex* first) {
    return reinterpret_cast<float*>(first) - 1;
}

void oversample(fcomplex** in, fcomplex** out, int nx, int ny, int ovr) {
    if (!g_filter)
        fatal_error("\nERROR: interp_patch: oversampling requested before the filter set-up\n");
    const OversamplingFilter& f = *g_filter;
    if (nx != f.nx() || ny != f.ny() || ovr != f.ovr())
        fatal_error("\nERROR: interp_patch: patch %d x %d (factor %d) does not match the filter "
                    "set up for %d x %d (factor %d)\n",
                    nx, ny, ovr, f.nx(), f.ny(), f.ovr());
    f.oversample(in, out, g_patchLines.get());
}

} // namespace

void interp_patch(fcomplex** in, fcomplex** out, int nx, int ny, int ovr, int mode) {
    if (mode != 1) {
        oversample(in, out, nx, ny, ovr);
        return;
    }
    g_filter = std::make_shared<const OversamplingFilter>(nx, ny, ovr);
    g_patchLines = Block1D<const float*>(static_cast<std::size_t>(ny));
}

void release_interp_filter() {
    g_filter.reset();
    g_patchLines = Block1D<const float*>();
}

std::shared_ptr<const OversamplingFilter> current_interp_filter() {
    return g_filter;
}

OversamplingFilter::OversamplingFilter(int nx, int ny, int ovr, bool announce)
    : nx_(nx), ny_(ny), ovr_(ovr) {
    const int Nx = ovr * nx;
    const int Ny = ovr * ny;
    const double bw = kTwoPi / ovr;
    const int nps = nx / 4 + 1;

    Block1D<fcomplex> line_filter(Nx);
    Block1D<fcomplex> across_filter(Ny);
    Array2D<fcomplex> spectrum(Nx, Ny);
    if (announce)
        std::printf("interp. filter bandwidth: %10.3f  FIR length: %d\n", bw / kTwoPi, nps);

    bp_filter(bw, 0.0, nps, Nx, kKaiserBeta, line_filter.get(), announce);
    fft_1d(unit_offset(line_filter.get()), static_cast<std::uint32_t>(Nx), 1);
    bp_filter(bw, 0.0, nps, Ny, kKaiserBeta, across_filter.get(), announce);
    fft_1d(unit_offset(across_filter.get()), static_cast<std::uint32_t>(Ny), 1);

    for (int r = 0; r < Ny; r++) {
        const fcomplex a = across_filter[r];
        for (int c = 0; c < Nx; c++) {
            const fcomplex b = line_filter[c];
            spectrum[r][c].re = static_cast<float>(static_cast<double>(a.re) * b.re -
                                                   static_cast<double>(a.im) * b.im);
            spectrum[r][c].im = static_cast<float>(static_cast<double>(a.re) * b.im +
                                                   static_cast<double>(a.im) * b.re);
        }
    }

    // ovr^2 restores the amplitude lost to the inserted zeros; 1/(Ny*Nx)
    // normalises the inverse transform.
    const double scale = static_cast<double>(ovr * ovr) / static_cast<double>(Ny * Nx);
    for (int r = 0; r < Ny; r++) {
        for (int c = 0; c < Nx; c++) {
            spectrum[r][c].re = static_cast<float>(spectrum[r][c].re * scale);
            spectrum[r][c].im = static_cast<float>(spectrum[r][c].im * scale);
        }
    }
    spectrum_ = std::move(spectrum);
}

void OversamplingFilter::oversample(fcomplex** in, fcomplex** out, const float** lines) const {
    const int nx = nx_, ny = ny_, ovr = ovr_;
    const int Nx = ovr * nx;
    const int Ny = ovr * ny;
    const std::uint32_t nn[3] = {0, static_cast<std::uint32_t>(Ny), static_cast<std::uint32_t>(Nx)};
    if (ovr == 2) {
        // The transform reads the patch itself: the zeros of the insertion,
        // three quarters of out, are neither written nor transformed.
        for (int r = 0; r < ny; r++)
            lines[r] = &in[r][0].re;
        fft_2d_zero_inserted_from(lines, nn[1], nn[2], unit_offset(out[0]), 1);
    } else {
        zero_2d(out, Nx, Ny);
        for (int r = 0; r < ny; r++)
            for (int c = 0; c < nx; c++)
                out[ovr * r][ovr * c] = in[r][c];
        fft_nd(unit_offset(out[0]), nn, 2, 1);
    }

    fcomplex** filter = spectrum_.get();
    for (int r = 0; r < Ny; r++)
        multiply_by_filter(out[r], filter[r], static_cast<std::size_t>(Nx));

    fft_nd(unit_offset(out[0]), nn, 2, -1);
}

void bp_filter(double bw, double wc, int nps, int nfft, double beta, fcomplex* filt,
               bool announce) {
    if (announce)
        std::printf("bp_filter: bw:%8.4f  wc:%8.4f  nfft: %d  nps: %d   Kaiser beta:%8.3f\n", bw,
                    wc, nfft, nps, beta);
    zero_1d(filt, static_cast<std::size_t>(nfft), sizeof(fcomplex));

    const int half = nps / 2;
    const double window_norm = bessel_i0(beta);
    for (int t = -half; t <= half; t++) {
        if (t == 0)
            continue;
        const double u = 2.0 * t / nps;
        const double w = bessel_i0(beta * std::sqrt(1.0 - u * u)) / window_norm;
        const float a = static_cast<float>(w * std::sin(bw * t / 2.0) / (kPi * t));
        const float cos_wc = static_cast<float>(std::cos(wc * t));
        const float sin_wc = static_cast<float>(std::sin(wc * t));
        fcomplex& tap = filt[t > 0 ? t : nfft + t];
        tap.re = a * cos_wc;
        tap.im = a * sin_wc;
    }
    // Limit of the ideal response at lag 0; neither windowed nor modulated.
    filt[0].re = static_cast<float>(bw / kTwoPi);
    filt[0].im = 0.0f;
}

// Abramowitz & Stegun 9.8.1 (|x| < 3.75) and 9.8.2 (|x| >= 3.75).
double bessel_i0(double x) {
    const double ax = std::fabs(x);
    if (ax < 3.75) {
        const double y = (x / 3.75) * (x / 3.75);
        return 1.0 +
               y * (3.5156229 +
                    y * (3.0899424 +
                         y * (1.2067492 + y * (0.2659732 + y * (0.0360768 + y * 0.0045813)))));
    }
    const double y = 3.75 / ax;
    return (std::exp(ax) / std::sqrt(ax)) *
           (0.39894228 +
            y * (0.01328592 +
                 y * (0.00225319 +
                      y * (-0.00157565 +
                           y * (0.00916281 +
                                y * (-0.02057706 +
                                     y * (0.02635537 + y * (-0.01647633 + y * 0.00392377))))))));
}
