#include "estimation/window_sigma.h"

#include <algorithm>
#include <cmath>

namespace {

// sigma^2 = (k sqrt(1 - rho) / (rho^p N^q))^2 + f^2, rho the normalised
// peak (about gamma^2 for speckle intensities) and N the window's cells.
// The first term has the shape of the speckle-tracking Cramer-Rao bound,
// steepened where small windows at low coherence start losing the peak; the
// floor f is the sub-sample bias of the quadratic peak fit on the twice
// oversampled surface, which no window size averages away. k, p, q and f
// are fitted to the error scatter of simulated pairs (coherence 0.4 to 0.95,
// windows 32 to 128; bench/calibrate_sigma.cpp prints the check).
constexpr double kScale = 1.6;
constexpr double kPeakPower = 1.15;
constexpr double kCellsPower = 0.7;
constexpr double kFloor = 0.0225;
// A peak this low is noise whatever its window: the sigma stays finite.
constexpr double kLowestPeak = 0.02;

} // namespace

WindowSigma window_sigma(double normalisedPeak, int width, int height) {
    const double rho = std::clamp(normalisedPeak, kLowestPeak, 1.0);
    const double cells = static_cast<double>(width) * height;
    const double speckle =
        kScale * std::sqrt(1.0 - rho) / (std::pow(rho, kPeakPower) * std::pow(cells, kCellsPower));
    const double s = std::sqrt(speckle * speckle + kFloor * kFloor);
    return {s, s};
}
