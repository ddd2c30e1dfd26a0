#include "inverse_map.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace slcsim {

namespace {

constexpr int kMaxIterations = 60;
constexpr double kStep = 1e-4; // central differences: exact enough for Newton's steps

// The Jacobian of position + offset at (x, y).
struct Jacobian {
    double xx, xy, yx, yy;
    double det() const { return xx * yy - xy * yx; }
};

Jacobian jacobian(const OffsetModel& model, double x, double y, double h) {
    const Offset x_plus = model.offset(x + h, y), x_minus = model.offset(x - h, y);
    const Offset y_plus = model.offset(x, y + h), y_minus = model.offset(x, y - h);
    return {1.0 + (x_plus.range - x_minus.range) / (2.0 * h),
            (y_plus.range - y_minus.range) / (2.0 * h),
            (x_plus.azimuth - x_minus.azimuth) / (2.0 * h),
            1.0 + (y_plus.azimuth - y_minus.azimuth) / (2.0 * h)};
}

struct Residual {
    double x, y;
    double size() const { return std::max(std::fabs(x), std::fabs(y)); }
};

Residual residual(const OffsetModel& model, double u, double v, double x, double y) {
    const Offset d = model.offset(x, y);
    return {x + d.range - u, y + d.azimuth - v};
}

// Damped Newton: a step that does not shrink the residual is halved.
bool solve(const OffsetModel& model, double u, double v, double* x, double* y) {
    const double tolerance = 1e-12 * (1.0 + std::fabs(u) + std::fabs(v));
    Residual r = residual(model, u, v, *x, *y);
    for (int i = 0; i < kMaxIterations; i++) {
        if (r.size() <= tolerance)
            return true;
        const Jacobian j = jacobian(model, *x, *y, kStep);
        const double det = j.det();
        if (!(det > 0.0))
            return false;
        const double step_x = -(j.yy * r.x - j.xy * r.y) / det;
        const double step_y = -(j.xx * r.y - j.yx * r.x) / det;
        for (double t = 1.0;; t *= 0.5) {
            if (t < 1e-6)
                return false;
            const Residual next = residual(model, u, v, *x + t * step_x, *y + t * step_y);
            if (next.size() < r.size()) {
                *x += t * step_x;
                *y += t * step_y;
                r = next;
                break;
            }
        }
    }
    return r.size() <= tolerance;
}

std::string at_position(const char* what, double x, double y) {
    char text[160];
    std::snprintf(text, sizeof text, "%s (%.1f, %.1f)", what, x, y);
    return text;
}

} // namespace

bool InverseMap::build(const OffsetModel& model, int width, int lines, std::string* error) {
    width_ = width;
    const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(lines);
    x_.assign(count, 0.0);
    y_.assign(count, 0.0);
    for (int v = 0; v < lines; v++)
        for (int u = 0; u < width; u++) {
            // Start from the left neighbour's offset, or the line above's.
            double x = u, y = v;
            if (u > 0 || v > 0) {
                const std::size_t from = u > 0 ? index(u - 1, v) : index(0, v - 1);
                x += x_[from] - (u > 0 ? u - 1 : 0);
                y += y_[from] - (u > 0 ? v : v - 1);
            } else {
                const Offset d = model.offset(u, v);
                x -= d.range;
                y -= d.azimuth;
            }
            if (!solve(model, u, v, &x, &y)) {
                *error = at_position("offsets cannot be inverted at slave position", u, v);
                return false;
            }
            x_[index(u, v)] = x;
            y_[index(u, v)] = y;
        }
    return true;
}

bool InverseMap::extent(int margin, Extent* extent, std::string* error) const {
    const auto [x_min, x_max] = std::minmax_element(x_.begin(), x_.end());
    const auto [y_min, y_max] = std::minmax_element(y_.begin(), y_.end());
    constexpr double kLimit = 1.0e7; // keeps every coordinate an int
    for (double value : {*x_min, *x_max, *y_min, *y_max})
        if (std::fabs(value) > kLimit) {
            *error = "offsets reach positions beyond 10^7 samples";
            return false;
        }
    extent->x_begin = static_cast<int>(std::floor(*x_min)) - margin;
    extent->x_end = static_cast<int>(std::floor(*x_max)) + margin + 1;
    extent->y_begin = static_cast<int>(std::floor(*y_min)) - margin;
    extent->y_end = static_cast<int>(std::floor(*y_max)) + margin + 1;
    return true;
}

bool check_unfolded(const OffsetModel& model, int width, int lines, std::string* error) {
    for (int y = 0; y < lines; y++)
        for (int x = 0; x < width; x++)
            if (!(jacobian(model, x, y, 1e-3).det() > 0.0)) {
                *error = at_position("offsets fold the slave over itself (position + offset turns "
                                     "back) at master position",
                                     x, y);
                return false;
            }
    return true;
}

} // namespace slcsim
