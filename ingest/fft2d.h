#pragma once

#include <complex>
#include <vector>

namespace ingest {

// In-place 2-D FFT of a row-major width x lines array, both powers of two.
// Forward uses exp(-i...); the inverse is unnormalized.
void fft2d(std::vector<std::complex<double>>& data, int width, int lines, bool inverse);

} // namespace ingest
