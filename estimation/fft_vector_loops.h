#pragma once

// Butterfly passes shared by the vector paths, written once over a vector
// type V that holds V::kSamples complex samples (interleaved re, im):
//   V::T; load, store, add, sub, mul, zero; swap_parts (re <-> im in every
//   sample); pair (one sample's twiddle repeated across the vector);
//   store_four (the transposing store of the first pass, see
//   gather_first_pass).
// Two stages are done while the data are in registers: the four samples
// s+g, s+g+h, s+g+2h, s+g+3h take the two butterflies of stage h, then the
// two of stage 2h, which is the order the plain loops give each of them.
//
// Included by one source file per path, after that file's target options,
// so everything here is internal to it (anonymous namespace).

#include "estimation/fft_kernels.h"

#include <cstddef>

namespace fft_kernels {
namespace {

// t = w b with w = (re, im) laid out as in Stage; b = a - t; a = a + t.
template <class V>
inline void butterfly(typename V::T& a, typename V::T& b, typename V::T re, typename V::T im) {
    const typename V::T t = V::add(V::mul(re, b), V::mul(im, V::swap_parts(b)));
    b = V::sub(a, t);
    a = V::add(a, t);
}

// Stages h and 2h of a line of n samples from src to dst (which may be the
// same), h a multiple of the vector length; twiddles per sample.
template <class V>
void line_stage_pair(const float* src, float* dst, std::uint32_t n, std::uint32_t h,
                     const Stage& s1, const Stage& s2) {
    const std::size_t d = 2 * static_cast<std::size_t>(h);
    for (std::uint32_t start = 0; start < n; start += 4 * h)
        for (std::uint32_t g = 0; g < h; g += V::kSamples) {
            const std::size_t i = 2 * static_cast<std::size_t>(start + g);
            typename V::T a0 = V::load(src + i), a1 = V::load(src + i + d);
            typename V::T a2 = V::load(src + i + 2 * d), a3 = V::load(src + i + 3 * d);
            const typename V::T r1 = V::load(s1.re + 2 * g), i1 = V::load(s1.im + 2 * g);
            butterfly<V>(a0, a1, r1, i1);
            butterfly<V>(a2, a3, r1, i1);
            butterfly<V>(a0, a2, V::load(s2.re + 2 * g), V::load(s2.im + 2 * g));
            butterfly<V>(a1, a3, V::load(s2.re + 2 * g + d), V::load(s2.im + 2 * g + d));
            V::store(dst + i, a0);
            V::store(dst + i + d, a1);
            V::store(dst + i + 2 * d, a2);
            V::store(dst + i + 3 * d, a3);
        }
}

// Stage h of a line of n samples from src to dst, h a multiple of the
// vector length.
template <class V>
void line_stage(const float* src, float* dst, std::uint32_t n, std::uint32_t h, const Stage& s) {
    const std::size_t d = 2 * static_cast<std::size_t>(h);
    for (std::uint32_t start = 0; start < n; start += 2 * h)
        for (std::uint32_t g = 0; g < h; g += V::kSamples) {
            const std::size_t i = 2 * static_cast<std::size_t>(start + g);
            typename V::T a0 = V::load(src + i), a1 = V::load(src + i + d);
            butterfly<V>(a0, a1, V::load(s.re + 2 * g), V::load(s.im + 2 * g));
            V::store(dst + i, a0);
            V::store(dst + i + d, a1);
        }
}

// The passes of a line of n = 2^L samples: gather with stages 1 and 2, then
// pairs of stages from h = 4, the last pass alone when L - 2 is odd. The
// last pass is either the pair (n/4, n/2) or the single stage n/2.
struct LastPass {
    std::uint32_t h;
    unsigned k; // stage index of h
    bool pair;
};

inline LastPass last_pass(std::uint32_t n) {
    unsigned log2n = 0;
    while ((std::uint32_t{1} << log2n) < n)
        log2n++;
    if ((log2n - 2) % 2 == 0)
        return {n / 4, log2n - 1, true};
    return {n / 2, log2n, false};
}

// Stages 1 and 2 with the bit reversal: the samples m, m + n/2, m + n/4,
// m + 3n/4 (m < n/4) land at positions 4k .. 4k+3, 4k = rev(m), where stage
// 1 pairs the first two and the last two and stage 2 pairs them across.
// Vectors over kSamples consecutive m, so every lane shares the twiddles;
// V::store_four then transposes so each m's four samples land together.
template <class V>
void gather_first_pass(const float* src, float* work, std::uint32_t n, const Stage& s1,
                       const Stage& s2, const std::uint32_t* rev) {
    using T = typename V::T;
    const T r1 = V::pair(s1.re), i1 = V::pair(s1.im);
    const T r2 = V::pair(s2.re), i2 = V::pair(s2.im);
    const T r3 = V::pair(s2.re + 2), i3 = V::pair(s2.im + 2);
    const std::size_t q = n / 2; // floats in a quarter of the line
    for (std::uint32_t m = 0; m < n / 4; m += V::kSamples) {
        const float* p = src + 2 * m;
        T a = V::load(p), b = V::load(p + 2 * q), c = V::load(p + q), d = V::load(p + 3 * q);
        butterfly<V>(a, b, r1, i1);
        butterfly<V>(c, d, r1, i1);
        butterfly<V>(a, c, r2, i2);
        butterfly<V>(b, d, r3, i3);
        V::store_four(work, rev + m, a, b, c, d);
    }
}

template <class V>
void line_begin_passes(const float* src, float* work, std::uint32_t n, const Stage* stages,
                       const std::uint32_t* rev) {
    gather_first_pass<V>(src, work, n, stages[1], stages[2], rev);
    const LastPass last = last_pass(n);
    std::uint32_t h = 4;
    unsigned k = 3;
    for (; h < last.h; h *= 4, k += 2)
        line_stage_pair<V>(work, work, n, h, stages[k], stages[k + 1]);
}

template <class V>
void line_end_pass(const float* work, float* dst, std::uint32_t n, const Stage* stages) {
    const LastPass last = last_pass(n);
    if (last.pair)
        line_stage_pair<V>(work, dst, n, last.h, stages[last.k], stages[last.k + 1]);
    else
        line_stage<V>(work, dst, n, last.h, stages[last.k]);
}

template <class V>
void line_zero_upper(const float* work, float* dst, std::uint32_t n, const Stage& last) {
    const std::size_t d = n; // floats in half the line
    for (std::uint32_t g = 0; g < n / 2; g += V::kSamples) {
        typename V::T a = V::load(work + 2 * g), b = V::zero();
        butterfly<V>(a, b, V::load(last.re + 2 * g), V::load(last.im + 2 * g));
        V::store(dst + 2 * g, a);
        V::store(dst + 2 * g + d, b);
    }
}

// Stages h and 2h of n adjacent rows of width samples (a multiple of the
// vector length), in place; all samples of a row share one twiddle.
template <class V>
void rows_stage_pair(float* x, std::uint32_t n, std::uint32_t width, std::uint32_t h,
                     const Stage& s1, const Stage& s2) {
    const std::size_t row = 2 * static_cast<std::size_t>(width);
    for (std::uint32_t start = 0; start < n; start += 4 * h)
        for (std::uint32_t g = 0; g < h; g++) {
            float* p0 = x + (start + g) * row;
            float* p1 = p0 + h * row;
            float* p2 = p1 + h * row;
            float* p3 = p2 + h * row;
            const typename V::T r1 = V::pair(s1.re + 2 * g), i1 = V::pair(s1.im + 2 * g);
            const typename V::T r2 = V::pair(s2.re + 2 * g), i2 = V::pair(s2.im + 2 * g);
            const typename V::T r3 = V::pair(s2.re + 2 * (g + h));
            const typename V::T i3 = V::pair(s2.im + 2 * (g + h));
            for (std::size_t c = 0; c < row; c += 2 * V::kSamples) {
                typename V::T a0 = V::load(p0 + c), a1 = V::load(p1 + c);
                typename V::T a2 = V::load(p2 + c), a3 = V::load(p3 + c);
                butterfly<V>(a0, a1, r1, i1);
                butterfly<V>(a2, a3, r1, i1);
                butterfly<V>(a0, a2, r2, i2);
                butterfly<V>(a1, a3, r3, i3);
                V::store(p0 + c, a0);
                V::store(p1 + c, a1);
                V::store(p2 + c, a2);
                V::store(p3 + c, a3);
            }
        }
}

template <class V>
void rows_stage(float* x, std::uint32_t n, std::uint32_t width, std::uint32_t h, const Stage& s) {
    const std::size_t row = 2 * static_cast<std::size_t>(width);
    for (std::uint32_t start = 0; start < n; start += 2 * h)
        for (std::uint32_t g = 0; g < h; g++) {
            float* p0 = x + (start + g) * row;
            float* p1 = p0 + h * row;
            const typename V::T r = V::pair(s.re + 2 * g), i = V::pair(s.im + 2 * g);
            for (std::size_t c = 0; c < row; c += 2 * V::kSamples) {
                typename V::T a0 = V::load(p0 + c), a1 = V::load(p1 + c);
                butterfly<V>(a0, a1, r, i);
                V::store(p0 + c, a0);
                V::store(p1 + c, a1);
            }
        }
}

// Stages h = 1 .. n/2 of the rows, in pairs. The pairs whose butterflies
// stay within blocks of rows that fit the first-level cache are done block
// by block, so a block takes all of them while it is there.
constexpr std::size_t kCacheBlockFloats = 4096; // 16 KiB

template <class V>
void rows_stages(float* x, std::uint32_t n, std::uint32_t width, const Stage* stages) {
    const std::size_t row = 2 * static_cast<std::size_t>(width);
    std::uint32_t blockRows = n;
    while (blockRows > 4 && blockRows * row > kCacheBlockFloats)
        blockRows /= 2;
    std::uint32_t h = 1;
    unsigned k = 1;
    for (std::uint32_t block = 0; block < n; block += blockRows) {
        h = 1;
        k = 1;
        for (; 4 * h <= blockRows; h *= 4, k += 2)
            rows_stage_pair<V>(x + block * row, blockRows, width, h, stages[k], stages[k + 1]);
    }
    for (; 4 * h <= n; h *= 4, k += 2)
        rows_stage_pair<V>(x, n, width, h, stages[k], stages[k + 1]);
    if (h < n)
        rows_stage<V>(x, n, width, h, stages[k]);
}

template <class V>
void rows_zero_upper(float* x, std::uint32_t n, std::uint32_t width, const Stage& last) {
    const std::size_t row = 2 * static_cast<std::size_t>(width);
    const std::uint32_t h = n / 2;
    for (std::uint32_t g = 0; g < h; g++) {
        float* p0 = x + g * row;
        float* p1 = p0 + h * row;
        const typename V::T r = V::pair(last.re + 2 * g), i = V::pair(last.im + 2 * g);
        for (std::size_t c = 0; c < row; c += 2 * V::kSamples) {
            typename V::T a = V::load(p0 + c), b = V::zero();
            butterfly<V>(a, b, r, i);
            V::store(p0 + c, a);
            V::store(p1 + c, b);
        }
    }
}

// The kernels of path V. Lines shorter than V::kMinLine samples, halves of
// lines narrower than a vector and rows narrower than a vector go to the
// narrower path.
template <class V, const Kernels& Narrower> struct VectorKernels {
    static void line_begin(const float* src, float* work, std::uint32_t n, const Stage* stages,
                           const std::uint32_t* rev) {
        if (n < V::kMinLine)
            Narrower.line_begin(src, work, n, stages, rev);
        else
            line_begin_passes<V>(src, work, n, stages, rev);
    }
    static void line_end(const float* work, float* dst, std::uint32_t n, const Stage* stages) {
        if (n < V::kMinLine)
            Narrower.line_end(work, dst, n, stages);
        else
            line_end_pass<V>(work, dst, n, stages);
    }
    static void line_last_zero_upper(const float* work, float* dst, std::uint32_t n,
                                     const Stage& last) {
        if (n / 2 < V::kSamples)
            Narrower.line_last_zero_upper(work, dst, n, last);
        else
            line_zero_upper<V>(work, dst, n, last);
    }
    static void rows(float* x, std::uint32_t n, std::uint32_t width, const Stage* stages) {
        if (width < V::kSamples)
            Narrower.rows(x, n, width, stages);
        else
            rows_stages<V>(x, n, width, stages);
    }
    static void rows_last_zero_upper(float* x, std::uint32_t n, std::uint32_t width,
                                     const Stage& last) {
        if (width < V::kSamples)
            Narrower.rows_last_zero_upper(x, n, width, last);
        else
            rows_zero_upper<V>(x, n, width, last);
    }
};

} // namespace
} // namespace fft_kernels
