#pragma once

#include "gaussian_source.h"

#include <complex>
#include <cstddef>
#include <vector>

namespace slcsim {

// A complex field on integer master coordinates: element (ix, iy) holds the
// value at range sample x0 + ix, line y0 + iy.
struct Field {
    int x0 = 0;
    int y0 = 0;
    int nx = 0;
    int ny = 0;
    std::vector<std::complex<float>> samples; // ny lines of nx samples

    const std::complex<float>* line(int y) const {
        return samples.data() + static_cast<std::size_t>(y - y0) * static_cast<std::size_t>(nx);
    }
    bool covers_columns(int x_begin, int x_end) const { return x_begin >= x0 && x_end <= x0 + nx; }
    bool covers_lines(int y_begin, int y_end) const { return y_begin >= y0 && y_end <= y0 + ny; }
};

// Band-limited circular complex Gaussian speckle covering at least
// [x_begin, x_end) x [y_begin, y_end), with E|z|^2 = rms^2. The field is
// one period of a sum of complex exponentials whose frequencies fill the
// central fraction `occupancy` of the band in each direction (a flat,
// rectangular spectrum), with independent Gaussian amplitudes; its size is
// rounded up to a length with factors 2, 3 and 5 only, centred on the
// requested area.
Field band_limited_speckle(int x_begin, int x_end, int y_begin, int y_end, double occupancy,
                           double rms, GaussianSource& source);

} // namespace slcsim
