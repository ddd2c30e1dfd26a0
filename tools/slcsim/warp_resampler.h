#pragma once

#include "band_limited_field.h"
#include "doppler_profile.h"
#include "inverse_map.h"
#include "resampling/sinc_kernel.h"

#include <complex>
#include <string>
#include <vector>

namespace slcsim {

// Lines of the slave image for offsets of any shape: slave(u, v) = field(x, y)
// at the master position of (u, v), each sample interpolated in range and
// azimuth at once (taps x taps samples), since the master positions of a
// slave line need not lie on a smooth curve. The field is base band; the
// value at master line y is modulated by the Doppler phasor at y, as the
// master's line y is.
class WarpResampler {
public:
    WarpResampler(const Field& field, const InverseMap& positions, const SincKernel& kernel,
                  const DopplerProfile& doppler, int width);
    // Fills width samples of slave line v; false with a message if the
    // kernel reaches outside the field.
    bool resample_line(int v, std::complex<double>* out, std::string* error);

private:
    const Field& field_;
    const InverseMap& positions_;
    const SincKernel& kernel_;
    const DopplerProfile& doppler_;
    int width_;
    std::vector<double> range_weights_, azimuth_weights_;
    std::vector<std::complex<double>> rows_; // one range sum per azimuth tap
};

} // namespace slcsim
