#pragma once

#include "params/dense_offsets.h"

#include <utility>

// Which measured windows the tracker keeps.
struct CullSettings {
    // Windows whose correlation SNR is below this are rejected (low SNR).
    double snrMin = 5.0;
    // A good window departing from the median of the good windows within
    // radius cells by more than threshold times their spread (1.4826 MAD,
    // floored at the median sigma) in range or azimuth is an outlier.
    int outlierRadius = 2;
    double outlierThreshold = 4.0;
};

// Marks low-SNR windows, then outliers among the rest; the offsets and
// sigmas of every rejected window become NaN. std::invalid_argument for a
// radius below 1 or a threshold that is not positive.
void cull_windows(DenseOffsets& field, const CullSettings& settings);

// The median sigma (range, azimuth) of the good windows; NaN without any.
std::pair<double, double> median_good_sigma(const DenseOffsets& field);

// Fills the offsets of rejected windows (no peak, low SNR, outlier; also no
// data when includeNoData) from the good ones by fill_gaps and marks them
// filled. A filled window's sigma is the median sigma of the good windows
// times (1 + d), d its distance in grid cells (the larger of the row and
// column distances) to the nearest good window: a value interpolated over
// d cells is no better than its sources, and worse the farther it reaches.
// False, changing nothing, when no window is good.
bool fill_rejected(DenseOffsets& field, bool includeNoData);
