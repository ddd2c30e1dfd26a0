#include "ingest/fft2d.h"

#include <cmath>
#include <utility>

namespace ingest {

namespace {

// Iterative radix-2 transform of n points spaced `stride` apart.
void fft1d(std::complex<double>* x, int n, int stride, bool inverse) {
    for (int i = 1, j = 0; i < n; i++) { // bit-reversal permutation
        int bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j)
            std::swap(x[i * stride], x[j * stride]);
    }
    const double pi = std::acos(-1.0);
    for (int len = 2; len <= n; len <<= 1) {
        const double angle = (inverse ? 2.0 : -2.0) * pi / len;
        for (int k = 0; k < len / 2; k++) {
            const std::complex<double> w(std::cos(angle * k), std::sin(angle * k));
            for (int start = 0; start < n; start += len) {
                std::complex<double>& a = x[(start + k) * stride];
                std::complex<double>& b = x[(start + k + len / 2) * stride];
                const std::complex<double> t = b * w;
                b = a - t;
                a += t;
            }
        }
    }
}

} // namespace

void fft2d(std::vector<std::complex<double>>& data, int width, int lines, bool inverse) {
    for (int y = 0; y < lines; y++)
        fft1d(&data[static_cast<std::size_t>(y) * width], width, 1, inverse);
    // Columns through a contiguous copy: a strided transform would miss the
    // cache on every butterfly.
    std::vector<std::complex<double>> column(static_cast<std::size_t>(lines));
    for (int x = 0; x < width; x++) {
        for (int y = 0; y < lines; y++)
            column[y] = data[static_cast<std::size_t>(y) * width + x];
        fft1d(column.data(), lines, 1, inverse);
        for (int y = 0; y < lines; y++)
            data[static_cast<std::size_t>(y) * width + x] = column[y];
    }
}

} // namespace ingest
