#pragma once

#include "params/offset_par.h"

#include <cstddef>

// The grid of offset estimates: positions in range (samples) and azimuth
// (lines) of the master image. Stage 1 lays it out and records it in the
// offset parameter file; stage 2 reads it back from there.
struct EstimationGrid {
    int rangeSamples = 0;
    int azimuthSamples = 0;
    int rangeStart = 0;
    int rangeEnd = 0;
    int rangeSpacing = 0;
    int azimuthStart = 0;
    int azimuthEnd = 0;
    int azimuthSpacing = 0;

    // Computed wide: the product alone may leave 32 bits even where the
    // position itself does not.
    long long range_position(int j) const {
        return rangeStart + static_cast<long long>(j) * rangeSpacing;
    }
    long long azimuth_position(int i) const {
        return azimuthStart + static_cast<long long>(i) * azimuthSpacing;
    }
    std::size_t positions() const {
        return static_cast<std::size_t>(rangeSamples) * static_cast<std::size_t>(azimuthSamples);
    }
};

// Rows and columns start this far inside the master image.
constexpr int kGridMargin = 48;

// The grid over a master of width x lines: rangeSamples x azimuthSamples
// positions evenly spaced between the margins (a single position in a
// direction gets the window size as its nominal spacing).
EstimationGrid lay_out_grid(int width, int lines, int rangeSamples, int azimuthSamples,
                            int windowWidth, int windowHeight);

void store_grid(const EstimationGrid& grid, stOffsetParInfo& par);
EstimationGrid grid_of(const stOffsetParInfo& par);
