#include "doppler_profile.h"

#include "slave_resampler.h"

#include <cmath>

namespace slcsim {

DopplerProfile::DopplerProfile(double first, double last, int lines)
    : first_(first), rate_(lines > 1 ? (last - first) / (lines - 1) : 0.0),
      mean_(0.5 * (first + last)) {}

std::complex<double> DopplerProfile::phasor(double y) const {
    if (rate_ == 0.0)
        return doppler_phasor(first_, y);
    const double cycles = first_ * y + 0.5 * rate_ * y * y;
    return std::polar(1.0, 2.0 * M_PI * (cycles - std::floor(cycles)));
}

} // namespace slcsim
