// The plain path: one butterfly at a time, stage after stage, in the order of
// the loop indices. The vector paths must reproduce it bit for bit.
#include "estimation/fft_kernels.h"

#include <cstddef>

namespace fft_kernels {

namespace {

// t = w b; b = a - t; a = a + t, all in float.
inline void butterfly(float* a, float* b, float wr, float wi) {
    const float tr = wr * b[0] - wi * b[1];
    const float ti = wr * b[1] + wi * b[0];
    b[0] = a[0] - tr;
    b[1] = a[1] - ti;
    a[0] += tr;
    a[1] += ti;
}

void line(float* x, std::uint32_t n, const Stage* stages) {
    unsigned k = 1;
    for (std::uint32_t half = 1; half < n; half <<= 1, k++)
        scalar_line_stage(x, n, half, stages[k]);
}

void line_last(float* x, std::uint32_t n, const Stage& last) {
    scalar_line_stage(x, n, n >> 1, last);
}

void rows(float* x, std::uint32_t n, std::uint32_t width, const Stage* stages) {
    unsigned k = 1;
    for (std::uint32_t half = 1; half < n; half <<= 1, k++)
        scalar_rows_stage(x, n, width, half, stages[k]);
}

void rows_last(float* x, std::uint32_t n, std::uint32_t width, const Stage& last) {
    scalar_rows_stage(x, n, width, n >> 1, last);
}

} // namespace

void scalar_line_stage(float* x, std::uint32_t n, std::uint32_t half, const Stage& stage) {
    for (std::uint32_t start = 0; start < n; start += 2 * half)
        for (std::uint32_t g = 0; g < half; g++)
            butterfly(x + 2 * (start + g), x + 2 * (start + g + half), stage.re[2 * g],
                      stage.im[2 * g + 1]);
}

void scalar_rows_stage(float* x, std::uint32_t n, std::uint32_t width, std::uint32_t half,
                       const Stage& stage) {
    const std::size_t row = 2 * static_cast<std::size_t>(width); // floats per row
    for (std::uint32_t start = 0; start < n; start += 2 * half)
        for (std::uint32_t g = 0; g < half; g++) {
            float* a = x + (start + g) * row;
            float* b = a + half * row;
            for (std::uint32_t c = 0; c < width; c++)
                butterfly(a + 2 * c, b + 2 * c, stage.re[2 * g], stage.im[2 * g + 1]);
        }
}

const Kernels kScalar = {line, line_last, rows, rows_last};

} // namespace fft_kernels
