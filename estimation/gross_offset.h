#pragma once

#include "params/offset_field.h"
#include "params/offset_file.h"

// Where the tracker expects the slave window of a master position: the
// offset (slave - master, samples and lines) it centres the slave window on,
// rounded to whole samples. A constant, an offset file's polynomials, or an
// offset field interpolated bilinearly between its cells (held at its edge
// value beyond them).
class GrossOffset {
public:
    struct Offset {
        double range, azimuth;
    };

    GrossOffset() = default; // zero
    static GrossOffset constant(double range, double azimuth);
    static GrossOffset polynomials(const OffsetPolynomials& polynomials);
    // std::invalid_argument when the field is empty or has a NaN cell.
    static GrossOffset field(OffsetField field);

    Offset at(double sample, double line) const;

private:
    enum class Kind { constant, polynomials, field } kind_ = Kind::constant;
    Offset constant_{0.0, 0.0};
    OffsetPolynomials polynomials_;
    OffsetField field_;
};
