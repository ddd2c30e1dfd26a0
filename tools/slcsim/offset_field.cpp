#include "offset_field.h"

#include <algorithm>
#include <cmath>

namespace slcsim {

namespace {
Offset along(bool azimuth, double value) {
    return azimuth ? Offset{0.0, value} : Offset{value, 0.0};
}
} // namespace

GaussianBump::GaussianBump(bool azimuth, double amplitude, double width, double x0, double y0)
    : azimuth_(azimuth), amplitude_(amplitude), width_(width), x0_(x0), y0_(y0) {}

Offset GaussianBump::at(double x, double y) const {
    const double dx = x - x0_, dy = y - y0_;
    return along(azimuth_, amplitude_ * std::exp(-(dx * dx + dy * dy) / (2.0 * width_ * width_)));
}

DiagonalStep::DiagonalStep(bool azimuth, double height, int width, int lines)
    : azimuth_(azimuth), height_(height) {
    // The diagonal runs along (width - 1, lines - 1); a one-sample or
    // one-line image falls back to the axis it has.
    const double along_x = std::max(width - 1, 0), along_y = std::max(lines - 1, 0);
    const double length = std::hypot(along_x, along_y);
    normal_x_ = length > 0.0 ? -along_y / length : 0.0;
    normal_y_ = length > 0.0 ? along_x / length : 1.0;
}

Offset DiagonalStep::at(double x, double y) const {
    const double distance = x * normal_x_ + y * normal_y_;
    return along(azimuth_, height_ * 0.5 * std::erfc(-distance / std::sqrt(2.0)));
}

Vortex::Vortex(double magnitude, double radius, double xc, double yc)
    : magnitude_(magnitude), radius_(radius), xc_(xc), yc_(yc) {}

Offset Vortex::at(double x, double y) const {
    const double dx = (x - xc_) / radius_, dy = (y - yc_) / radius_;
    const double scale = magnitude_ * std::exp((1.0 - dx * dx - dy * dy) / 2.0);
    return {-scale * dy, scale * dx};
}

} // namespace slcsim
