#pragma once

#include "params/offset_file.h"

#include <string>

// Fitted offset polynomials against the true ones, for judging a
// co-registration run on a simulated pair.

struct OffsetDifference {
    int step = 1; // lattice spacing in samples and lines
    int columns = 0, rows = 0;
    double range_max = 0.0, range_rms = 0.0;
    double azimuth_max = 0.0, azimuth_rms = 0.0;
};

// |fitted - true| over a lattice covering the whole width x lines image,
// its last column and line included. The spacing keeps the lattice to about
// 512 x 512 positions.
OffsetDifference compare_offsets(const OffsetPolynomials& fitted, const OffsetPolynomials& truth,
                                 int width, int lines);

// The polynomials side by side and the differences, as printed by
// `slcsim --compare`.
std::string format_comparison(const OffsetPolynomials& fitted, const OffsetPolynomials& truth,
                              const OffsetDifference& difference, int width, int lines);
