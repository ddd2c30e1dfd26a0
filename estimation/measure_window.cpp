#include "estimation/measure_window.h"

#include "estimation/corr_peak.h"
#include "estimation/interp_patch.h"
#include "estimation/patch_prep.h"

namespace {

constexpr int kOversampling = 2;
constexpr int kPeakNeighbourhood = 3;

} // namespace

WindowWorkspace::WindowWorkspace(int width, int height)
    : width_(width), height_(height), masterPatch_(width, height), slavePatch_(width, height),
      masterOversampled_(kOversampling * width, kOversampling * height),
      slaveOversampled_(kOversampling * width, kOversampling * height),
      masterIntensity_(kOversampling * width, kOversampling * height),
      slaveIntensity_(kOversampling * width, kOversampling * height),
      correlation_(kOversampling * width, kOversampling * height) {
    interp_patch(masterPatch_.get(), masterOversampled_.get(), width, height, kOversampling, 1);
    corr_peak(correlation_.get(), kOversampling * width, kOversampling * height, kPeakNeighbourhood,
              &rangePeak_, &azimuthPeak_, 1);
}

WindowMeasurement measure_window(WindowWorkspace& ws, double masterClip, double slaveClip) {
    const int w = ws.width_;
    const int h = ws.height_;
    for (fcomplex** patch : {ws.masterPatch_.get(), ws.slavePatch_.get()}) {
        double rangeSlope = 0.0;
        double azimuthSlope = 0.0;
        phase_slope(patch, 0, 0, w, h, &rangeSlope, &azimuthSlope);
        deramp_patch(patch, w, h, -rangeSlope, -azimuthSlope);
    }
    interp_patch(ws.masterPatch_.get(), ws.masterOversampled_.get(), w, h, kOversampling, 0);
    interp_patch(ws.slavePatch_.get(), ws.slaveOversampled_.get(), w, h, kOversampling, 0);
    intensity_xcorr(ws.masterOversampled_.get(), ws.slaveOversampled_.get(),
                    ws.masterIntensity_.get(), ws.slaveIntensity_.get(), ws.correlation_.get(), w,
                    h, masterClip, slaveClip);
    const double snr = corr_peak(ws.correlation_.get(), kOversampling * w, kOversampling * h,
                                 kPeakNeighbourhood, &ws.rangePeak_, &ws.azimuthPeak_, 0);
    return {snr, ws.rangePeak_ / kOversampling, ws.azimuthPeak_ / kOversampling};
}

bool mostly_no_data(fcomplex** patch, int width, int height) {
    int zeros = 0;
    for (int r = 0; r < height; r++)
        for (int m = 0; m < width; m++)
            if (patch[r][m].re == 0.0f && patch[r][m].im == 0.0f)
                zeros++;
    return zeros > (height * width) / 16;
}
