#pragma once

#include "estimation/dense_tracker.h"
#include "estimation/window_culling.h"

#include <array>

// A dense offset tracking run on an opened pair.
struct TrackingRequest {
    TrackerWindows windows;
    GrossOffset gross;
    // A first pass of larger windows (twice the size, four times the step)
    // whose culled and completely filled field becomes the gross offset of
    // the fine pass: it finds offsets up to about a quarter of its window,
    // where the fine windows alone would decorrelate.
    bool coarsePass = false;
    CullSettings cull;
    bool fill = false; // fill rejected windows of the result (not no-data ones)
    int threads = 1;
};

// The fine field, culled (and filled when asked). FileError naming the
// master when a window does not fit in it or when no window (of either
// pass) could be measured; std::invalid_argument for a setting the tracker
// cannot take; Cancelled when progress asked to stop.
DenseOffsets track_offsets(const SlcImageFile& master, const SlcImageFile& slave,
                           const TrackingRequest& request, Progress* progress);

// What a run gave, for its summary line.
struct TrackingSummary {
    std::array<long long, 6> windows{};                      // per WindowState
    double medianRangeSigma = 0.0, medianAzimuthSigma = 0.0; // of the good windows
};
TrackingSummary summarise(const DenseOffsets& field);
