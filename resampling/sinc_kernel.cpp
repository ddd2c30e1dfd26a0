#include "resampling/sinc_kernel.h"

#include <algorithm>
#include <cmath>

namespace {

// Modified Bessel function of the first kind, order 0, by its power series.
double bessel_i0(double x) {
    double sum = 1.0;
    double term = 1.0;
    const double quarter_x2 = 0.25 * x * x;
    for (int k = 1; k < 200 && term > 1e-17 * sum; k++) {
        term *= quarter_x2 / (static_cast<double>(k) * static_cast<double>(k));
        sum += term;
    }
    return sum;
}

} // namespace

SincKernel::SincKernel(const KernelShape& shape, int phases)
    : shape_(shape), bessel_beta_(bessel_i0(shape.beta)), phases_(phases),
      table_(static_cast<std::size_t>((phases + 1) * shape.taps)) {
    for (int m = 0; m <= phases; m++) {
        const double fraction = static_cast<double>(m) / phases;
        for (int j = 0; j < shape_.taps; j++)
            table_[static_cast<std::size_t>(m * shape_.taps + j)] =
                value(fraction - (j + first_tap()));
    }
}

double SincKernel::window(double r) const {
    switch (shape_.window) {
    case KernelWindow::hann:
        return 0.5 + 0.5 * std::cos(M_PI * r);
    case KernelWindow::blackman:
        return 0.42 + 0.5 * std::cos(M_PI * r) + 0.08 * std::cos(2.0 * M_PI * r);
    case KernelWindow::kaiser:
        break;
    }
    return bessel_i0(shape_.beta * std::sqrt(1.0 - r * r)) / bessel_beta_;
}

double SincKernel::value(double t) const {
    if (t == 0.0)
        return 1.0;
    // Exactly zero at the other integers, so integer positions copy samples.
    if (t == std::floor(t))
        return 0.0;
    const double r = t / (0.5 * shape_.taps);
    if (std::fabs(r) >= 1.0)
        return 0.0;
    return std::sin(M_PI * t) / (M_PI * t) * window(r);
}

void SincKernel::weights(double fraction, double* out) const {
    const double scaled = fraction * phases_;
    const int m = std::min(static_cast<int>(scaled), phases_ - 1);
    const double a = scaled - m;
    const double* lo = row(m);
    const double* hi = lo + shape_.taps;
    if (a == 0.0) {
        std::copy(lo, hi, out);
        return;
    }
    for (int j = 0; j < shape_.taps; j++)
        out[j] = lo[j] + a * (hi[j] - lo[j]);
}

WeightTable::WeightTable(const SincKernel& kernel, bool unit_gain)
    : taps_(kernel.taps()), phases_(kernel.phases()),
      weights_(static_cast<std::size_t>((kernel.phases() + 1) * kernel.taps())) {
    for (int m = 0; m <= phases_; m++) {
        const double* w = kernel.row(m);
        double sum = 0.0;
        for (int j = 0; j < taps_; j++)
            sum += w[j];
        const double scale = unit_gain ? 1.0 / sum : 1.0;
        for (int j = 0; j < taps_; j++)
            weights_[static_cast<std::size_t>(m * taps_ + j)] = static_cast<float>(w[j] * scale);
    }
}
