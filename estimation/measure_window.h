#pragma once

#include "numeric/alloc.h"
#include "numeric/fcomplex.h"

// Offset of the slave patch against the master patch in original samples
// and lines, and the SNR of the correlation peak (0 when no peak was found).
struct WindowMeasurement {
    double snr;
    double rangeShift;
    double azimuthShift;
};

// The work arrays of one window size, allocated once per run and reused at
// every position: the two patches, their oversampled copies, the clipped
// intensities and the correlation surface.
class WindowWorkspace {
public:
    // Also prepares the oversampling filter and the peak fit for this size.
    WindowWorkspace(int width, int height);

    int width() const { return width_; }
    int height() const { return height_; }
    fcomplex** master_patch() const { return masterPatch_.get(); }
    fcomplex** slave_patch() const { return slavePatch_.get(); }

private:
    friend WindowMeasurement measure_window(WindowWorkspace&, double, double);

    int width_;
    int height_;
    Array2D<fcomplex> masterPatch_, slavePatch_;
    Array2D<fcomplex> masterOversampled_, slaveOversampled_;
    Array2D<fcomplex> masterIntensity_, slaveIntensity_;
    Array2D<fcomplex> correlation_;
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

// True when more than a sixteenth of a patch is exactly zero (no data).
bool mostly_no_data(fcomplex** patch, int width, int height);
