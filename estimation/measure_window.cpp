#include "estimation/measure_window.h"

#include "estimation/patch_prep.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

constexpr int kOversampling = 2;
constexpr int kPeakNeighbourhood = 3;

// The module's filter set-up (it reads and writes no patch), kept as the
// filter of the run.
std::shared_ptr<const OversamplingFilter> set_up_filter(int width, int height) {
    interp_patch(nullptr, nullptr, width, height, kOversampling, 1);
    return current_interp_filter();
}

} // namespace

WindowWorkspace::WindowWorkspace(int width, int height)
    : width_(width), height_(height), masterPatch_(width, height), slavePatch_(width, height),
      masterOversampled_(kOversampling * width, kOversampling * height),
      slaveOversampled_(kOversampling * width, kOversampling * height),
      masterIntensity_(kOversampling * width, kOversampling * height),
      slaveIntensity_(kOversampling * width, kOversampling * height),
      correlation_(kOversampling * width, kOversampling * height),
      filter_(set_up_filter(width, height)), patchLines_(static_cast<std::size_t>(height)),
      fit_(kPeakNeighbourhood) {
    corr_peak(correlation_.get(), kOversampling * width, kOversampling * height, kPeakNeighbourhood,
              &rangePeak_, &azimuthPeak_, 1);
}

WindowWorkspace::WindowWorkspace(std::shared_ptr<const OversamplingFilter> filter)
    : width_(filter->nx()), height_(filter->ny()), masterPatch_(width_, height_),
      slavePatch_(width_, height_),
      masterOversampled_(kOversampling * width_, kOversampling * height_),
      slaveOversampled_(kOversampling * width_, kOversampling * height_),
      masterIntensity_(kOversampling * width_, kOversampling * height_),
      slaveIntensity_(kOversampling * width_, kOversampling * height_),
      correlation_(kOversampling * width_, kOversampling * height_), filter_(std::move(filter)),
      patchLines_(static_cast<std::size_t>(height_)), fit_(kPeakNeighbourhood) {}

WindowMeasurement measure_window(WindowWorkspace& ws, double masterClip, double slaveClip) {
    const int w = ws.width_;
    const int h = ws.height_;
    for (fcomplex** patch : {ws.masterPatch_.get(), ws.slavePatch_.get()}) {
        double rangeSlope = 0.0;
        double azimuthSlope = 0.0;
        phase_slope(patch, 0, 0, w, h, &rangeSlope, &azimuthSlope);
        deramp_patch(patch, w, h, -rangeSlope, -azimuthSlope);
    }
    ws.filter_->oversample(ws.masterPatch_.get(), ws.masterOversampled_.get(),
                           ws.patchLines_.get());
    ws.filter_->oversample(ws.slavePatch_.get(), ws.slaveOversampled_.get(), ws.patchLines_.get());
    intensity_xcorr(ws.masterOversampled_.get(), ws.slaveOversampled_.get(),
                    ws.masterIntensity_.get(), ws.slaveIntensity_.get(), ws.correlation_.get(), w,
                    h, masterClip, slaveClip);
    const double snr = ws.fit_.search(ws.correlation_.get(), kOversampling * w, kOversampling * h,
                                      &ws.rangePeak_, &ws.azimuthPeak_);
    return {snr, ws.rangePeak_ / kOversampling, ws.azimuthPeak_ / kOversampling};
}

namespace {

// Sum of |x|^2 over the spectrum of one oversampled intensity patch.
double spectral_energy(fcomplex** spectrum, int nx, int ny) {
    double energy = 0.0;
    for (int r = 0; r < ny; r++)
        for (int c = 0; c < nx; c++) {
            const double re = spectrum[r][c].re;
            const double im = spectrum[r][c].im;
            energy += re * re + im * im;
        }
    return energy;
}

} // namespace

double normalised_peak(const WindowWorkspace& ws) {
    const int nx = kOversampling * ws.width_;
    const int ny = kOversampling * ws.height_;
    float peak = 0.0f;
    for (int r = 0; r < ny; r++)
        for (int c = 0; c < nx; c++)
            peak = std::max(peak, ws.correlation_[r][c].re);
    // The chain leaves both spectra scaled by 1/N (N cells) and the surface
    // at 1/N times the lagged sum of products; by Parseval each scaled
    // spectrum's energy is 1/N times its patch's.
    const double energy = std::sqrt(spectral_energy(ws.masterIntensity_.get(), nx, ny) *
                                    spectral_energy(ws.slaveIntensity_.get(), nx, ny));
    return energy > 0.0 ? peak / energy : 0.0;
}

bool mostly_no_data(fcomplex** patch, int width, int height) {
    int zeros = 0;
    for (int r = 0; r < height; r++)
        for (int m = 0; m < width; m++)
            if (patch[r][m].re == 0.0f && patch[r][m].im == 0.0f)
                zeros++;
    return zeros > (height * width) / 16;
}
