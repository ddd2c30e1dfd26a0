#include "resampling/field_surface.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace {

// Four weights of the padded nodes first .. first + 3 (padded index = node
// + 1) giving the value at u, in node units from node 0, of n >= 2 nodes.
// Beyond the end nodes the value goes on linearly with the cubic's slope
// there, half the difference of the nodes either side.
struct Stencil {
    int first;
    double w[4];
};

Stencil stencil(double u, int n) {
    if (u < 0.0)
        return {0, {-0.5 * u, 1.0, 0.5 * u, 0.0}};
    const double last = n - 1;
    if (u > last) {
        const double v = u - last;
        return {n - 2, {0.0, -0.5 * v, 1.0, 0.5 * v}};
    }
    const int i = std::min(static_cast<int>(u), n - 2);
    const double t = u - i, t2 = t * t, t3 = t2 * t;
    return {i,
            {0.5 * (-t3 + 2.0 * t2 - t), 0.5 * (3.0 * t3 - 5.0 * t2 + 2.0),
             0.5 * (-3.0 * t3 + 4.0 * t2 + t), 0.5 * (t3 - t2)}};
}

double apply(const Stencil& s, const double* nodes, std::size_t stride) {
    const double* p = nodes + static_cast<std::size_t>(s.first) * stride;
    return s.w[0] * p[0] + s.w[1] * p[stride] + s.w[2] * p[2 * stride] + s.w[3] * p[3 * stride];
}

// The node beyond a, from a and the next two nodes b and c inward: on the
// quadratic through them (so quadratics are reproduced up to the edge), or
// on the line through a and b when there is no c.
double node_beyond(double a, double b, const double* c) {
    return c != nullptr ? 3.0 * a - 3.0 * b + *c : 2.0 * a - b;
}

// The field's values with at least two nodes in each direction (a single
// row or column repeated: constant that way) and one node added at each
// end, so every cubic stencil finds four nodes.
std::vector<double> padded(const std::vector<float>& values, int rows, int columns) {
    const int nr = std::max(rows, 2), nc = std::max(columns, 2);
    const std::size_t pc = static_cast<std::size_t>(nc) + 2;
    std::vector<double> out((static_cast<std::size_t>(nr) + 2) * pc);
    for (int r = 0; r < nr; r++) {
        double* row = &out[(static_cast<std::size_t>(r) + 1) * pc];
        for (int c = 0; c < nc; c++)
            row[c + 1] = values[static_cast<std::size_t>(std::min(r, rows - 1)) * columns +
                                static_cast<std::size_t>(std::min(c, columns - 1))];
        row[0] = node_beyond(row[1], row[2], nc > 2 ? &row[3] : nullptr);
        row[nc + 1] = node_beyond(row[nc], row[nc - 1], nc > 2 ? &row[nc - 2] : nullptr);
    }
    for (std::size_t c = 0; c < pc; c++) {
        const double* first = &out[pc + c];
        const double* last = &out[static_cast<std::size_t>(nr) * pc + c];
        out[c] = node_beyond(first[0], first[pc], nr > 2 ? &first[2 * pc] : nullptr);
        out[static_cast<std::size_t>(nr + 1) * pc + c] =
            node_beyond(last[0], last[-static_cast<std::ptrdiff_t>(pc)],
                        nr > 2 ? &last[-2 * static_cast<std::ptrdiff_t>(pc)] : nullptr);
    }
    return out;
}

} // namespace

FieldSurface::FieldSurface(const OffsetField& f)
    : first_range_(f.firstRange), first_azimuth_(f.firstAzimuth), step_range_(f.stepRange),
      step_azimuth_(f.stepAzimuth), columns_(f.columns), rows_(f.rows),
      padded_columns_(std::max(f.columns, 2) + 2) {
    const bool regular = f.columns >= 1 && f.rows >= 1 && std::isfinite(f.firstRange) &&
                         std::isfinite(f.firstAzimuth) && std::isfinite(f.stepRange) &&
                         std::isfinite(f.stepAzimuth) && f.stepRange > 0.0 && f.stepAzimuth > 0.0;
    if (!regular || f.range.size() != f.cells() || f.azimuth.size() != f.cells() || !f.complete())
        throw std::invalid_argument("an offset field surface needs a complete regular field");
    range_ = padded(f.range, rows_, columns_);
    azimuth_ = padded(f.azimuth, rows_, columns_);
}

void FieldSurface::add_line(int y, int x_first, int count, double* range, double* azimuth,
                            FieldLineScratch* scratch) const {
    const int nodes = std::max(columns_, 2);
    if (scratch->x_first != x_first || scratch->count != count) {
        scratch->x_first = x_first;
        scratch->count = count;
        scratch->first_node.resize(static_cast<std::size_t>(count));
        scratch->weights.resize(4 * static_cast<std::size_t>(count));
        for (int i = 0; i < count; i++) {
            const Stencil across = stencil((x_first + i - first_range_) / step_range_, nodes);
            scratch->first_node[static_cast<std::size_t>(i)] = across.first;
            std::copy(across.w, across.w + 4, &scratch->weights[4 * static_cast<std::size_t>(i)]);
        }
    }
    // Azimuth first, once per padded column, then range per sample.
    const std::size_t pc = static_cast<std::size_t>(padded_columns_);
    scratch->at_line.resize(2 * pc);
    double* range_at_y = scratch->at_line.data();
    double* azimuth_at_y = range_at_y + pc;
    const Stencil down = stencil((y - first_azimuth_) / step_azimuth_, std::max(rows_, 2));
    for (std::size_t c = 0; c < pc; c++) {
        range_at_y[c] = apply(down, &range_[c], pc);
        azimuth_at_y[c] = apply(down, &azimuth_[c], pc);
    }
    for (std::size_t i = 0; i < static_cast<std::size_t>(count); i++) {
        const double* w = &scratch->weights[4 * i];
        const double* r = range_at_y + scratch->first_node[i];
        const double* a = azimuth_at_y + scratch->first_node[i];
        range[i] += w[0] * r[0] + w[1] * r[1] + w[2] * r[2] + w[3] * r[3];
        azimuth[i] += w[0] * a[0] + w[1] * a[1] + w[2] * a[2] + w[3] * a[3];
    }
}
