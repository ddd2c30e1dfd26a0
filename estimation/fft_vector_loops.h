#pragma once

// Butterfly stage loops shared by the vector paths, written once over a
// vector type V that holds V::kSamples complex samples (interleaved re, im):
//   V::T; load, store, add, sub, mul; swap_parts (re <-> im in every
//   sample); pair (one sample's twiddle repeated across the vector);
//   first_stages (stages 1 and 2 of a line, in registers).
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

// Stages h and 2h of a line of n samples, h a multiple of the vector length:
// twiddles per sample, loaded from the tables.
template <class V>
void line_stage_pair(float* x, std::uint32_t n, std::uint32_t h, const Stage& s1, const Stage& s2) {
    for (std::uint32_t start = 0; start < n; start += 4 * h)
        for (std::uint32_t g = 0; g < h; g += V::kSamples) {
            float* p0 = x + 2 * (start + g);
            float* p1 = p0 + 2 * h;
            float* p2 = p1 + 2 * h;
            float* p3 = p2 + 2 * h;
            typename V::T a0 = V::load(p0), a1 = V::load(p1), a2 = V::load(p2), a3 = V::load(p3);
            const typename V::T r1 = V::load(s1.re + 2 * g), i1 = V::load(s1.im + 2 * g);
            butterfly<V>(a0, a1, r1, i1);
            butterfly<V>(a2, a3, r1, i1);
            butterfly<V>(a0, a2, V::load(s2.re + 2 * g), V::load(s2.im + 2 * g));
            butterfly<V>(a1, a3, V::load(s2.re + 2 * (g + h)), V::load(s2.im + 2 * (g + h)));
            V::store(p0, a0);
            V::store(p1, a1);
            V::store(p2, a2);
            V::store(p3, a3);
        }
}

// One stage h of a line of n samples, h a multiple of the vector length.
template <class V> void line_stage(float* x, std::uint32_t n, std::uint32_t h, const Stage& s) {
    for (std::uint32_t start = 0; start < n; start += 2 * h)
        for (std::uint32_t g = 0; g < h; g += V::kSamples) {
            float* p0 = x + 2 * (start + g);
            float* p1 = p0 + 2 * h;
            typename V::T a0 = V::load(p0), a1 = V::load(p1);
            butterfly<V>(a0, a1, V::load(s.re + 2 * g), V::load(s.im + 2 * g));
            V::store(p0, a0);
            V::store(p1, a1);
        }
}

// All stages of a line of n >= 4 samples: stages 1 and 2 in registers, then
// pairs of stages, then the last one alone when their count is odd.
template <class V> void line_stages(float* x, std::uint32_t n, const Stage* stages) {
    V::first_stages(x, n, stages[1], stages[2]);
    std::uint32_t h = 4;
    unsigned k = 3;
    for (; 4 * h <= n; h *= 4, k += 2)
        line_stage_pair<V>(x, n, h, stages[k], stages[k + 1]);
    if (h < n)
        line_stage<V>(x, n, h, stages[k]);
}

// Stages h and 2h of n adjacent rows of width samples (a multiple of the
// vector length); all samples of a row share one twiddle.
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

template <class V>
void rows_stages(float* x, std::uint32_t n, std::uint32_t width, const Stage* stages) {
    std::uint32_t h = 1;
    unsigned k = 1;
    for (; 4 * h <= n; h *= 4, k += 2)
        rows_stage_pair<V>(x, n, width, h, stages[k], stages[k + 1]);
    if (h < n)
        rows_stage<V>(x, n, width, h, stages[k]);
}

// The kernels of path V; lines shorter than 4 samples, last stages narrower
// than a vector and rows narrower than a vector go to the narrower path.
template <class V, const Kernels& Narrower> struct VectorKernels {
    static void line(float* x, std::uint32_t n, const Stage* stages) {
        if (n < 4)
            Narrower.line(x, n, stages);
        else
            line_stages<V>(x, n, stages);
    }
    static void line_last(float* x, std::uint32_t n, const Stage& last) {
        if (n / 2 < V::kSamples)
            Narrower.line_last(x, n, last);
        else
            line_stage<V>(x, n, n / 2, last);
    }
    static void rows(float* x, std::uint32_t n, std::uint32_t width, const Stage* stages) {
        if (width < V::kSamples)
            Narrower.rows(x, n, width, stages);
        else
            rows_stages<V>(x, n, width, stages);
    }
    static void rows_last(float* x, std::uint32_t n, std::uint32_t width, const Stage& last) {
        if (width < V::kSamples)
            Narrower.rows_last(x, n, width, last);
        else
            rows_stage<V>(x, n, width, n / 2, last);
    }
};

} // namespace
} // namespace fft_kernels
