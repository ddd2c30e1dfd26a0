#pragma once

#include "offset_model.h"
#include "slave_resampler.h"

#include <string>
#include <vector>

namespace slcsim {

// Where every slave pixel (u, v) reads the master, for offsets of any shape:
// the master position (x, y) with (x, y) + offset(x, y) = (u, v), solved by
// Newton's method from the previous pixel's solution. Fields may move the
// image by tens of samples and change faster than a sample per sample, where
// the polynomials' fixed-point iteration would not converge.
class InverseMap {
public:
    // False with a message where a position cannot be solved.
    bool build(const OffsetModel& model, int width, int lines, std::string* error);

    double x(int u, int v) const { return x_[index(u, v)]; }
    double y(int u, int v) const { return y_[index(u, v)]; }
    // The master area the positions span, widened by margin on every side;
    // false with a message when it reaches beyond 10^7 samples.
    bool extent(int margin, Extent* extent, std::string* error) const;

private:
    std::size_t index(int u, int v) const {
        return static_cast<std::size_t>(v) * static_cast<std::size_t>(width_) +
               static_cast<std::size_t>(u);
    }

    int width_ = 0;
    std::vector<double> x_, y_;
};

// Offsets that would fold the slave over itself (the Jacobian of position +
// offset not positive somewhere on the master grid) have no single truth:
// false with a message naming the first such master position.
bool check_unfolded(const OffsetModel& model, int width, int lines, std::string* error);

} // namespace slcsim
