#pragma once

#include "params/offset_field.h"

#include <cstddef>
#include <vector>

// What became of one window of the dense offset tracker.
enum class WindowState : unsigned char {
    good = 0,
    no_data = 1, // a window outside the images, or mostly zeros
    no_peak = 2, // the correlation surface gave no peak to fit
    low_snr = 3,
    outlier = 4, // departs from its neighbours (median and MAD test)
    filled = 5   // rejected, its offsets interpolated from the good windows
};

// The mask's legend, as the GeoTIFF states it.
constexpr const char* kWindowStateLegend =
    "0=good,1=no data,2=no peak,3=low snr,4=outlier,5=filled";

// The dense offset field of a pair: offsets (slave - master, gross offset
// included) on the grid of window centres, and per window the 1-sigma
// uncertainty of each offset, the correlation SNR, the normalised
// correlation peak and the window's state. Offsets and sigmas are NaN where
// the state is neither good nor filled; SNR and peak NaN where nothing was
// measured. Row after row, rows being azimuth positions.
struct DenseOffsets {
    OffsetField offsets;
    std::vector<float> rangeSigma, azimuthSigma, snr, peak;
    std::vector<unsigned char> mask;

    void resize_to_grid() {
        const std::size_t n = offsets.cells();
        for (std::vector<float>* band :
             {&offsets.range, &offsets.azimuth, &rangeSigma, &azimuthSigma, &snr, &peak})
            band->assign(n, std::nanf(""));
        mask.assign(n, static_cast<unsigned char>(WindowState::no_data));
    }
    WindowState state(std::size_t cell) const { return static_cast<WindowState>(mask[cell]); }
};
