#pragma once

#include "offset_field.h"

namespace slcsim {

// The true offsets of a pair: slave position = master position + offset,
// both polynomials c0..c5 of 1, x, y, x*y, x^2, y^2 at master range sample x
// and master line y, plus the sum of any offset fields.
class OffsetModel {
public:
    OffsetModel(const double range[6], const double azimuth[6], OffsetFields fields = {});

    // True when fields are added to the polynomials.
    bool has_fields() const { return !fields_.empty(); }
    Offset offset(double x, double y) const;
    double range_offset(double x, double y) const { return offset(x, y).range; }
    double azimuth_offset(double x, double y) const { return offset(x, y).azimuth; }

    // The master position (x, y) that lands on slave pixel (u, v):
    // x + dr(x, y) = u, y + da(x, y) = v. False if the fixed-point iteration
    // does not converge (offsets that change by a sample per sample or more).
    bool master_position(double u, double v, double* x, double* y) const;

    // The master line y on master column x that lands on slave line v:
    // y + da(x, y) = v.
    bool master_line(double x, double v, double* y) const;

private:
    static double evaluate(const double c[6], double x, double y) {
        return c[0] + c[1] * x + c[2] * y + c[3] * x * y + c[4] * x * x + c[5] * y * y;
    }

    double range_[6];
    double azimuth_[6];
    OffsetFields fields_;
};

} // namespace slcsim
