#include "gaussian_source.h"

#include <cmath>

namespace slcsim {

std::complex<double> GaussianSource::next() {
    // 1 - u lies in (0, 1], so the logarithm is finite. Each part of
    // sqrt(-2 ln u1) (cos, sin) has unit variance; sqrt(-ln u1) halves the
    // power to E|z|^2 = 1.
    const double radius = std::sqrt(-std::log(1.0 - uniform()));
    const double angle = 2.0 * M_PI * uniform();
    return {radius * std::cos(angle), radius * std::sin(angle)};
}

std::vector<fcomplex> white_speckle(std::size_t count, std::uint64_t seed, double power) {
    GaussianSource source(seed);
    const double amplitude = std::sqrt(power);
    std::vector<fcomplex> samples(count);
    for (fcomplex& s : samples) {
        const std::complex<double> z = source.next() * amplitude;
        s = {static_cast<float>(z.real()), static_cast<float>(z.imag())};
    }
    return samples;
}

} // namespace slcsim
