#pragma once

#include "params/offset_field.h"

#include <vector>

// A complete offset field (no NaN cell) made a surface over the whole master
// grid with continuous first derivatives: Catmull-Rom cubic convolution in
// azimuth, then in range, between the grid's cells, with one node added
// beyond each edge on the quadratic through the last three (so quadratics
// are reproduced in every cell). Beyond the outermost cells each direction
// goes on linearly with the cubic's slope at the edge node: offsets are
// dominated by a linear trend, which clamping would cut off, and a cubic
// continued far out would run away.
// What add_line keeps between calls: one line of the azimuth pass, and the
// range weights of the samples last asked for (the same on every line).
struct FieldLineScratch {
    std::vector<double> at_line;
    int x_first = 0, count = -1;
    std::vector<int> first_node;
    std::vector<double> weights; // four per sample
};

class FieldSurface {
public:
    // std::invalid_argument unless the field is complete and regular (at
    // least one cell, finite origin, finite positive steps).
    explicit FieldSurface(const OffsetField& complete);

    // Adds the field's range and azimuth offsets at master samples x_first ..
    // x_first + count - 1 of master line y to range[] and azimuth[]. scratch
    // is the caller's (so surfaces are shared between threads).
    void add_line(int y, int x_first, int count, double* range, double* azimuth,
                  FieldLineScratch* scratch) const;

    double first_range() const { return first_range_; }
    double step_range() const { return step_range_; }
    double first_azimuth() const { return first_azimuth_; }
    double step_azimuth() const { return step_azimuth_; }
    int columns() const { return columns_; }
    int rows() const { return rows_; }

private:
    double first_range_, first_azimuth_, step_range_, step_azimuth_;
    int columns_, rows_;                  // the field's own cells
    int padded_columns_;                  // nodes + one extrapolated node each side
    std::vector<double> range_, azimuth_; // padded grids, row after row
};
