#pragma once

#include <vector>

namespace slcsim {

// Kaiser-windowed sinc interpolator of an even number of taps. For a
// position p = n + f (n integer, 0 <= f < 1) tap j weights the sample at
// n - taps/2 + 1 + j. Weights are tabulated at `phases` fractions and
// interpolated linearly between them (kernel error ~ 1e-6 at 2048 phases).
class SincKernel {
public:
    SincKernel(int taps, double beta, int phases = 2048);
    int taps() const { return taps_; }
    // Writes taps() weights for the fraction f in [0, 1).
    void weights(double fraction, double* out) const;

private:
    double value(double t) const;

    int taps_;
    double beta_;
    double bessel_beta_;
    int phases_;
    std::vector<double> table_; // (phases + 1) rows of taps weights
};

// Taps for a field of the given spectral occupancy: the passband must reach
// occupancy/2 while the spectral images from 1 - occupancy/2 on are
// rejected, so the narrower that gap the longer the kernel.
int kernel_taps_for(double occupancy);

} // namespace slcsim
