#include "slave_resampler.h"

#include "resampling/weighted_sum.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace slcsim {

namespace {

std::string position_error(double u, double v) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "offset polynomials cannot be inverted at slave position (%.1f, %.1f)", u, v);
    return text;
}

} // namespace

SlaveResampler::SlaveResampler(const Field& field, const OffsetModel& model,
                               const SincKernel& kernel, int width, DopplerProfile doppler)
    : field_(field), model_(model), kernel_(kernel), width_(width), doppler_(doppler),
      positions_(static_cast<std::size_t>(width)),
      weights_(static_cast<std::size_t>(kernel.taps())) {}

bool SlaveResampler::resample_line(int v, std::complex<double>* out, std::string* error) {
    const int taps = kernel_.taps();
    double x_min = 0.0;
    double x_max = 0.0;
    for (int u = 0; u < width_; u++) {
        double x = 0.0;
        double y = 0.0;
        if (!model_.master_position(u, v, &x, &y)) {
            *error = position_error(u, v);
            return false;
        }
        positions_[static_cast<std::size_t>(u)] = x;
        x_min = u == 0 ? x : std::min(x_min, x);
        x_max = u == 0 ? x : std::max(x_max, x);
    }
    const int column_begin = static_cast<int>(std::floor(x_min)) - taps / 2 + 1;
    const int column_end = static_cast<int>(std::floor(x_max)) + taps / 2 + 1;
    if (!field_.covers_columns(column_begin, column_end)) {
        *error = "slave line " + std::to_string(v) + " reads outside the simulated field";
        return false;
    }
    if (!interpolate_columns(v, column_begin, column_end, error))
        return false;

    for (int u = 0; u < width_; u++) {
        const double x = positions_[static_cast<std::size_t>(u)];
        const double whole = std::floor(x);
        kernel_.weights(x - whole, weights_.data());
        const std::complex<double>* samples = &along_curve_[static_cast<std::size_t>(
            static_cast<int>(whole) + kernel_.first_tap() - column_begin)];
        out[u] = weighted_sum(samples, 1, weights_.data(), taps);
    }
    return true;
}

bool SlaveResampler::interpolate_columns(int v, int column_begin, int column_end,
                                         std::string* error) {
    const int taps = kernel_.taps();
    along_curve_.resize(static_cast<std::size_t>(column_end - column_begin));
    for (int x = column_begin; x < column_end; x++) {
        double y = 0.0;
        if (!model_.master_line(x, v, &y)) {
            *error = position_error(x, v);
            return false;
        }
        const double whole = std::floor(y);
        const int first = static_cast<int>(whole) - taps / 2 + 1;
        if (!field_.covers_lines(first, first + taps)) {
            *error = "slave line " + std::to_string(v) + " reads outside the simulated field";
            return false;
        }
        kernel_.weights(y - whole, weights_.data());
        const std::size_t column = static_cast<std::size_t>(x - field_.x0);
        along_curve_[static_cast<std::size_t>(x - column_begin)] =
            weighted_sum(field_.line(first) + column, field_.nx, weights_.data(), taps);
        if (!doppler_.none())
            along_curve_[static_cast<std::size_t>(x - column_begin)] *= doppler_.phasor(y);
    }
    return true;
}

bool slave_footprint(const OffsetModel& model, int width, int lines, int taps, Extent* extent,
                     std::string* error) {
    constexpr int kStep = 16;
    // Covers the kernel, the curvature of the mapping between grid points
    // and the column curves' drift over half a kernel.
    const int margin = taps / 2 + 8;
    double x_min = 0.0, x_max = 0.0, y_min = 0.0, y_max = 0.0;
    bool first = true;
    for (int v = 0;; v = std::min(v + kStep, lines - 1)) {
        for (int u = 0;; u = std::min(u + kStep, width - 1)) {
            double x = 0.0;
            double y = 0.0;
            if (!model.master_position(u, v, &x, &y)) {
                *error = position_error(u, v);
                return false;
            }
            x_min = first ? x : std::min(x_min, x);
            x_max = first ? x : std::max(x_max, x);
            y_min = first ? y : std::min(y_min, y);
            y_max = first ? y : std::max(y_max, y);
            first = false;
            if (u == width - 1)
                break;
        }
        if (v == lines - 1)
            break;
    }
    constexpr double kLimit = 1.0e7; // keeps every coordinate an int
    if (std::fabs(x_min) > kLimit || std::fabs(x_max) > kLimit || std::fabs(y_min) > kLimit ||
        std::fabs(y_max) > kLimit) {
        *error = "offset polynomials reach positions beyond 10^7 samples";
        return false;
    }
    extent->x_begin = static_cast<int>(std::floor(x_min)) - margin;
    extent->x_end = static_cast<int>(std::floor(x_max)) + margin + 1;
    extent->y_begin = static_cast<int>(std::floor(y_min)) - margin;
    extent->y_end = static_cast<int>(std::floor(y_max)) + margin + 1;
    return true;
}

std::complex<double> doppler_phasor(double f, double y) {
    const double cycles = f * y;
    return std::polar(1.0, 2.0 * M_PI * (cycles - std::floor(cycles)));
}

int kernel_taps_for(double occupancy) {
    if (occupancy <= 0.8)
        return 32;
    if (occupancy <= 0.9)
        return 64;
    return 128;
}

} // namespace slcsim
