#pragma once

#include <vector>

// Generic operations on a grid of values stored row after row, NaN marking
// a cell without a value: the outlier test and the gap filling shared by
// the dense offset tracker and the resampler's offset fields.

// Flags (1) each finite cell that departs from the median of the finite
// cells around it (a square of 2 * radius + 1 cells, the cell itself left
// out) by more than threshold times their spread: 1.4826 times their median
// absolute deviation, floored at minSpread so that a flat neighbourhood does
// not flag sub-sample noise. A cell with fewer than three finite neighbours
// is not judged (0). NaN cells are 0.
std::vector<char> flag_median_outliers(const std::vector<float>& values, int rows, int columns,
                                       int radius, double threshold, double minSpread);

// Replaces every NaN cell by a smooth interpolation of the finite cells: the
// harmonic (membrane) surface through them, so that filled values stay
// within the range of their surroundings and vary smoothly. Returns false,
// leaving the grid unchanged, when no cell is finite.
bool fill_gaps(std::vector<float>& values, int rows, int columns);
