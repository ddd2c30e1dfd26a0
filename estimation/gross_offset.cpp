#include "estimation/gross_offset.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <utility>

namespace {

double polynomial(const double c[6], double x, double y) {
    return c[0] + c[1] * x + c[2] * y + c[3] * x * y + c[4] * x * x + c[5] * y * y;
}

// The cell coordinate of position along an axis, split into a lower cell
// index and a weight, clamped to the axis.
struct AxisCell {
    int lower;
    double weight;
};

AxisCell axis_cell(double position, double first, double step, int cells) {
    const double u = std::clamp((position - first) / step, 0.0, static_cast<double>(cells - 1));
    const int lower = std::min(static_cast<int>(std::floor(u)), std::max(cells - 2, 0));
    return {lower, cells > 1 ? u - lower : 0.0};
}

double bilinear(const OffsetField& f, const std::vector<float>& values, AxisCell r, AxisCell c) {
    const int r1 = std::min(r.lower + 1, f.rows - 1);
    const int c1 = std::min(c.lower + 1, f.columns - 1);
    const double top = values[f.index(r.lower, c.lower)] * (1.0 - c.weight) +
                       values[f.index(r.lower, c1)] * c.weight;
    const double bottom =
        values[f.index(r1, c.lower)] * (1.0 - c.weight) + values[f.index(r1, c1)] * c.weight;
    return top * (1.0 - r.weight) + bottom * r.weight;
}

} // namespace

GrossOffset GrossOffset::constant(double range, double azimuth) {
    GrossOffset g;
    g.constant_ = {range, azimuth};
    return g;
}

GrossOffset GrossOffset::polynomials(const OffsetPolynomials& polynomials) {
    GrossOffset g;
    g.kind_ = Kind::polynomials;
    g.polynomials_ = polynomials;
    return g;
}

GrossOffset GrossOffset::field(OffsetField field) {
    if (field.rows < 1 || field.columns < 1 || field.range.size() != field.cells() ||
        field.azimuth.size() != field.cells() || !field.complete() || !(field.stepRange > 0.0) ||
        !(field.stepAzimuth > 0.0))
        throw std::invalid_argument("a gross offset field needs a finite value in every cell");
    GrossOffset g;
    g.kind_ = Kind::field;
    g.field_ = std::move(field);
    return g;
}

GrossOffset::Offset GrossOffset::at(double sample, double line) const {
    switch (kind_) {
    case Kind::polynomials:
        return {polynomial(polynomials_.range, sample, line),
                polynomial(polynomials_.azimuth, sample, line)};
    case Kind::field: {
        const AxisCell r = axis_cell(line, field_.firstAzimuth, field_.stepAzimuth, field_.rows);
        const AxisCell c = axis_cell(sample, field_.firstRange, field_.stepRange, field_.columns);
        return {bilinear(field_, field_.range, r, c), bilinear(field_, field_.azimuth, r, c)};
    }
    case Kind::constant:
        break;
    }
    return constant_;
}
