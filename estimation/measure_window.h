#pragma once

#include "estimation/corr_peak.h"
#include "estimation/interp_patch.h"
#include "numeric/alloc.h"
#include "numeric/fcomplex.h"

#include <memory>

// Offset of the slave patch against the master patch in original samples
// and lines, and the SNR of the correlation peak (0 when no peak was found).
struct WindowMeasurement {
    double snr;
    double rangeShift;
    double azimuthShift;
};

// The work arrays of one window size, allocated once per run and reused at
// every position: the two patches, their oversampled copies, the clipped
// intensities, the correlation surface and the peak fit's arrays. Nothing in
// it is shared but the oversampling filter, which is only read, so each
// thread measures with a workspace of its own.
class WindowWorkspace {
public:
    // Also sets up the oversampling filter and the peak fit for this size,
    // as the module's set-up calls do (printing the filter's design).
    WindowWorkspace(int width, int height);
    // Another workspace for the filter's window size (a factor 2 filter),
    // sharing it: designs nothing, prints nothing.
    explicit WindowWorkspace(std::shared_ptr<const OversamplingFilter> filter);

    int width() const { return width_; }
    int height() const { return height_; }
    fcomplex** master_patch() const { return masterPatch_.get(); }
    fcomplex** slave_patch() const { return slavePatch_.get(); }
    const std::shared_ptr<const OversamplingFilter>& filter() const { return filter_; }

private:
    friend WindowMeasurement measure_window(WindowWorkspace&, double, double);
    friend double normalised_peak(const WindowWorkspace&);

    int width_;
    int height_;
    Array2D<fcomplex> masterPatch_, slavePatch_;
    Array2D<fcomplex> masterOversampled_, slaveOversampled_;
    Array2D<fcomplex> masterIntensity_, slaveIntensity_;
    Array2D<fcomplex> correlation_;
    std::shared_ptr<const OversamplingFilter> filter_;
    Block1D<const float*> patchLines_;
    PeakFit fit_;
    // The peak fit leaves its shifts untouched when it fails: they carry
    // over from the position before, as they always have.
    double rangePeak_ = 0.0;
    double azimuthPeak_ = 0.0;
};

// The per-position chain on the two patches of the workspace: remove each
// patch's phase ramp, oversample both by two, correlate their intensities
// (clipped at masterClip and slaveClip) and fit the peak. The patches are
// deramped in place.
WindowMeasurement measure_window(WindowWorkspace& workspace, double masterClip, double slaveClip);

// The peak of the normalised cross-correlation of the two clipped, mean-free
// oversampled intensities of the last measure_window on this workspace: the
// surface's maximum over the square root of the product of the patches'
// energies (from their spectra, by Parseval). 1 for identical patches, about
// |coherence|^2 for speckle; 0 when either patch has no variation. Reads
// only what measure_window left behind, so it changes nothing it computed.
double normalised_peak(const WindowWorkspace& workspace);

// True when more than a sixteenth of a patch is exactly zero (no data).
bool mostly_no_data(fcomplex** patch, int width, int height);
