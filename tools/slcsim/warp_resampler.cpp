#include "warp_resampler.h"

#include "resampling/weighted_sum.h"

#include <cmath>

namespace slcsim {

WarpResampler::WarpResampler(const Field& field, const InverseMap& positions,
                             const SincKernel& kernel, const DopplerProfile& doppler, int width)
    : field_(field), positions_(positions), kernel_(kernel), doppler_(doppler), width_(width),
      range_weights_(static_cast<std::size_t>(kernel.taps())),
      azimuth_weights_(static_cast<std::size_t>(kernel.taps())),
      rows_(static_cast<std::size_t>(kernel.taps())) {}

bool WarpResampler::resample_line(int v, std::complex<double>* out, std::string* error) {
    const int taps = kernel_.taps();
    for (int u = 0; u < width_; u++) {
        const double x = positions_.x(u, v), y = positions_.y(u, v);
        const double whole_x = std::floor(x), whole_y = std::floor(y);
        const int first_x = static_cast<int>(whole_x) + kernel_.first_tap();
        const int first_y = static_cast<int>(whole_y) + kernel_.first_tap();
        if (!field_.covers_columns(first_x, first_x + taps) ||
            !field_.covers_lines(first_y, first_y + taps)) {
            *error = "slave line " + std::to_string(v) + " reads outside the simulated field";
            return false;
        }
        kernel_.weights(x - whole_x, range_weights_.data());
        kernel_.weights(y - whole_y, azimuth_weights_.data());
        const std::size_t column = static_cast<std::size_t>(first_x - field_.x0);
        for (int j = 0; j < taps; j++)
            rows_[static_cast<std::size_t>(j)] =
                weighted_sum(field_.line(first_y + j) + column, 1, range_weights_.data(), taps);
        out[u] = weighted_sum(rows_.data(), 1, azimuth_weights_.data(), taps);
        if (!doppler_.none())
            out[u] *= doppler_.phasor(y);
    }
    return true;
}

} // namespace slcsim
