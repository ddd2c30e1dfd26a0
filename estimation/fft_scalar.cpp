// The plain path: one butterfly at a time, stage after stage, in the order of
// the loop indices. The vector paths must reproduce it bit for bit.
#include "estimation/fft_kernels.h"

#include <cstddef>

namespace fft_kernels {

namespace {

// t = w b; b' = a - t; a' = a + t, all in float, from (a, b) to (a', b').
inline void butterfly(const float* a, const float* b, float* aOut, float* bOut, float wr,
                      float wi) {
    const float tr = wr * b[0] - wi * b[1];
    const float ti = wr * b[1] + wi * b[0];
    const float ar = a[0], ai = a[1];
    bOut[0] = ar - tr;
    bOut[1] = ai - ti;
    aOut[0] = ar + tr;
    aOut[1] = ai + ti;
}

const float kZero[2] = {0.0f, 0.0f};

// Stage h (pairs h samples apart) of n samples, from src to dst.
void line_stage(const float* src, float* dst, std::uint32_t n, std::uint32_t h,
                const Stage& stage) {
    for (std::uint32_t start = 0; start < n; start += 2 * h)
        for (std::uint32_t g = 0; g < h; g++) {
            const std::size_t a = 2 * static_cast<std::size_t>(start + g);
            const std::size_t b = a + 2 * static_cast<std::size_t>(h);
            butterfly(src + a, src + b, dst + a, dst + b, stage.re[2 * g], stage.im[2 * g + 1]);
        }
}

void line_begin(const float* src, float* work, std::uint32_t n, const Stage* stages,
                const std::uint32_t* rev) {
    for (std::uint32_t i = 0; i < n; i++) {
        work[2 * i] = src[2 * rev[i]];
        work[2 * i + 1] = src[2 * rev[i] + 1];
    }
    unsigned k = 1;
    for (std::uint32_t h = 1; 2 * h < n; h <<= 1, k++)
        line_stage(work, work, n, h, stages[k]);
}

void line_end(const float* work, float* dst, std::uint32_t n, const Stage* stages) {
    if (n < 2) {
        dst[0] = work[0];
        dst[1] = work[1];
        return;
    }
    unsigned k = 1;
    while ((std::uint32_t{2} << (k - 1)) < n)
        k++;
    line_stage(work, dst, n, n / 2, stages[k]);
}

void line_last_zero_upper(const float* work, float* dst, std::uint32_t n, const Stage& last) {
    const std::uint32_t h = n / 2;
    for (std::uint32_t g = 0; g < h; g++)
        butterfly(work + 2 * g, kZero, dst + 2 * g, dst + 2 * (g + h), last.re[2 * g],
                  last.im[2 * g + 1]);
}

// Stage h of n rows of width samples, in place.
void rows_stage(float* x, std::uint32_t n, std::uint32_t width, std::uint32_t h,
                const Stage& stage) {
    const std::size_t row = 2 * static_cast<std::size_t>(width); // floats per row
    for (std::uint32_t start = 0; start < n; start += 2 * h)
        for (std::uint32_t g = 0; g < h; g++) {
            float* a = x + (start + g) * row;
            float* b = a + h * row;
            for (std::uint32_t c = 0; c < width; c++)
                butterfly(a + 2 * c, b + 2 * c, a + 2 * c, b + 2 * c, stage.re[2 * g],
                          stage.im[2 * g + 1]);
        }
}

void rows(float* x, std::uint32_t n, std::uint32_t width, const Stage* stages) {
    unsigned k = 1;
    for (std::uint32_t h = 1; h < n; h <<= 1, k++)
        rows_stage(x, n, width, h, stages[k]);
}

void rows_last_zero_upper(float* x, std::uint32_t n, std::uint32_t width, const Stage& last) {
    const std::size_t row = 2 * static_cast<std::size_t>(width);
    const std::uint32_t h = n / 2;
    for (std::uint32_t g = 0; g < h; g++) {
        float* a = x + g * row;
        float* b = a + h * row;
        for (std::uint32_t c = 0; c < width; c++)
            butterfly(a + 2 * c, kZero, a + 2 * c, b + 2 * c, last.re[2 * g], last.im[2 * g + 1]);
    }
}

} // namespace

const Kernels kScalar = {line_begin, line_end, line_last_zero_upper, rows, rows_last_zero_upper};

} // namespace fft_kernels
