#include "sinc_kernel.h"

#include <algorithm>
#include <cmath>

namespace slcsim {

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

SincKernel::SincKernel(int taps, double beta, int phases)
    : taps_(taps), beta_(beta), bessel_beta_(bessel_i0(beta)), phases_(phases),
      table_(static_cast<std::size_t>((phases + 1) * taps)) {
    for (int m = 0; m <= phases; m++) {
        const double fraction = static_cast<double>(m) / phases;
        for (int j = 0; j < taps; j++)
            table_[static_cast<std::size_t>(m * taps + j)] = value(fraction - (j - taps / 2 + 1));
    }
}

double SincKernel::value(double t) const {
    if (t == 0.0)
        return 1.0;
    // Exactly zero at the other integers, so integer positions copy samples.
    if (t == std::floor(t))
        return 0.0;
    const double r = t / (0.5 * taps_);
    if (std::fabs(r) >= 1.0)
        return 0.0;
    const double window = bessel_i0(beta_ * std::sqrt(1.0 - r * r)) / bessel_beta_;
    return std::sin(M_PI * t) / (M_PI * t) * window;
}

void SincKernel::weights(double fraction, double* out) const {
    const double scaled = fraction * phases_;
    const int m = std::min(static_cast<int>(scaled), phases_ - 1);
    const double a = scaled - m;
    const double* lo = &table_[static_cast<std::size_t>(m * taps_)];
    const double* hi = lo + taps_;
    if (a == 0.0) {
        std::copy(lo, hi, out);
        return;
    }
    for (int j = 0; j < taps_; j++)
        out[j] = lo[j] + a * (hi[j] - lo[j]);
}

int kernel_taps_for(double occupancy) {
    if (occupancy <= 0.8)
        return 32;
    if (occupancy <= 0.9)
        return 64;
    return 128;
}

} // namespace slcsim
