#include "offset_model.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace slcsim {

namespace {
constexpr int kMaxIterations = 100;
constexpr double kTolerance = 1e-10;
} // namespace

OffsetModel::OffsetModel(const double range[6], const double azimuth[6], OffsetFields fields)
    : fields_(std::move(fields)) {
    std::copy(range, range + 6, range_);
    std::copy(azimuth, azimuth + 6, azimuth_);
}

Offset OffsetModel::offset(double x, double y) const {
    Offset total{evaluate(range_, x, y), evaluate(azimuth_, x, y)};
    for (const auto& field : fields_) {
        const Offset part = field->at(x, y);
        total.range += part.range;
        total.azimuth += part.azimuth;
    }
    return total;
}

bool OffsetModel::master_position(double u, double v, double* x, double* y) const {
    double xi = u - range_offset(u, v);
    double yi = v - azimuth_offset(u, v);
    for (int i = 0; i < kMaxIterations; i++) {
        const double xn = u - range_offset(xi, yi);
        const double yn = v - azimuth_offset(xi, yi);
        const double change = std::max(std::fabs(xn - xi), std::fabs(yn - yi));
        xi = xn;
        yi = yn;
        if (change <= kTolerance) {
            *x = xi;
            *y = yi;
            return true;
        }
    }
    return false;
}

bool OffsetModel::master_line(double x, double v, double* y) const {
    double yi = v - azimuth_offset(x, v);
    for (int i = 0; i < kMaxIterations; i++) {
        const double yn = v - azimuth_offset(x, yi);
        const double change = std::fabs(yn - yi);
        yi = yn;
        if (change <= kTolerance) {
            *y = yi;
            return true;
        }
    }
    return false;
}

} // namespace slcsim
