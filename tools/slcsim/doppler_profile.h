#pragma once

#include <complex>

namespace slcsim {

// The azimuth spectrum's centre along the image, in cycles per line: first
// at line 0, changing linearly to last at line lines - 1. The phase is its
// integral, 2 pi (first y + (last - first) y^2 / (2 (lines - 1))).
class DopplerProfile {
public:
    DopplerProfile() = default;
    explicit DopplerProfile(double constant) : first_(constant) {}
    DopplerProfile(double first, double last, int lines);

    bool none() const { return first_ == 0.0 && rate_ == 0.0; }
    // exp(i phase(y)); a constant centroid's is doppler_phasor's, bit for bit.
    std::complex<double> phasor(double y) const;
    // The centroid averaged over the lines.
    double mean() const { return mean_; }

private:
    double first_ = 0.0;
    double rate_ = 0.0; // cycles per line per line
    double mean_ = first_;
};

} // namespace slcsim
