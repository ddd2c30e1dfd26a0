#pragma once

#include "numeric/fcomplex.h"

#include <complex>
#include <cstdint>
#include <random>
#include <vector>

namespace slcsim {

// Circular complex Gaussian samples, E|z|^2 = 1, from a seeded 64-bit
// Mersenne Twister through Box-Muller: the engine's sequence is fixed by the
// C++ standard, unlike std::normal_distribution's, so a seed gives the same
// samples with every standard library.
class GaussianSource {
public:
    explicit GaussianSource(std::uint64_t seed) : engine_(seed) {}
    std::complex<double> next();

private:
    // Uniform in [0, 1) with 53 random bits.
    double uniform() { return static_cast<double>(engine_() >> 11) * 0x1.0p-53; }

    std::mt19937_64 engine_;
};

// count samples of white circular Gaussian speckle of mean intensity power,
// in single precision: the one speckle source of the simulator, the tests
// and the benchmarks.
std::vector<fcomplex> white_speckle(std::size_t count, std::uint64_t seed, double power = 1.0);

} // namespace slcsim
