#pragma once

#include <memory>
#include <vector>

namespace slcsim {

// Offsets at one master position: range in samples, azimuth in lines.
struct Offset {
    double range = 0.0;
    double azimuth = 0.0;
};

// A part of the true offsets that no polynomial describes, defined at every
// master position (also between and beyond the master's samples).
class OffsetField {
public:
    virtual ~OffsetField() = default;
    virtual Offset at(double x, double y) const = 0;
};

using OffsetFields = std::vector<std::shared_ptr<const OffsetField>>;

// A Gaussian bump along one axis: amplitude * exp(-r^2 / (2 width^2)), r the
// distance from (x0, y0).
class GaussianBump : public OffsetField {
public:
    GaussianBump(bool azimuth, double amplitude, double width, double x0, double y0);
    Offset at(double x, double y) const override;

private:
    bool azimuth_;
    double amplitude_, width_, x0_, y0_;
};

// A step along one axis across the image's diagonal from (0, 0) to
// (width - 1, lines - 1): height on the side of the later lines, 0 on the
// other, smoothed by a Gaussian of one sample across the diagonal so the
// offsets stay band-limited enough to interpolate.
class DiagonalStep : public OffsetField {
public:
    DiagonalStep(bool azimuth, double height, int width, int lines);
    Offset at(double x, double y) const override;

private:
    bool azimuth_;
    double height_;
    double normal_x_, normal_y_; // unit normal of the diagonal, towards later lines
};

// A vortex centred on (xc, yc): the offset is perpendicular to the radius,
// turned from range towards azimuth (on the +range side it points to later
// lines), of size magnitude * q * exp((1 - q^2) / 2),
// q the distance over radius, so it reaches magnitude at the radius and fades
// beyond. Its Jacobian never folds for |magnitude| < 1.6 radius.
class Vortex : public OffsetField {
public:
    Vortex(double magnitude, double radius, double xc, double yc);
    Offset at(double x, double y) const override;

private:
    double magnitude_, radius_, xc_, yc_;
};

} // namespace slcsim
