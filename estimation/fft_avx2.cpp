// The AVX2 path: four complex samples per vector. Only the functions of this
// file are compiled for AVX2 (a target option on them, not a flag on the
// file, so no library code shared with the rest of the program is); the
// caller runs them only on processors that have it. Never FMA: every product
// is rounded before its sum, as in the other paths.
#include "estimation/fft_kernels.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif

#include "estimation/fft_vector_loops.h"

namespace fft_kernels {
namespace {

struct Avx2 {
    using T = __m256;
    static constexpr std::uint32_t kSamples = 4;

    static T load(const float* p) { return _mm256_loadu_ps(p); }
    static void store(float* p, T v) { _mm256_storeu_ps(p, v); }
    static T add(T a, T b) { return _mm256_add_ps(a, b); }
    static T sub(T a, T b) { return _mm256_sub_ps(a, b); }
    static T mul(T a, T b) { return _mm256_mul_ps(a, b); }
    static T swap_parts(T v) { return _mm256_permute_ps(v, _MM_SHUFFLE(2, 3, 0, 1)); }
    static T pair(const float* p) {
        return _mm256_castpd_ps(_mm256_broadcast_sd(reinterpret_cast<const double*>(p)));
    }

    // Stages 1 and 2 inside each vector (x0, x1 | x2, x3): stage 1 pairs the
    // neighbours within each 128-bit half, stage 2 pairs the halves.
    static void first_stages(float* x, std::uint32_t n, const Stage& s1, const Stage& s2) {
        const T r1 = pair(s1.re), i1 = pair(s1.im);
        const T r2 = _mm256_broadcast_ps(reinterpret_cast<const __m128*>(s2.re));
        const T i2 = _mm256_broadcast_ps(reinterpret_cast<const __m128*>(s2.im));
        for (std::uint32_t start = 0; start < n; start += 4) {
            float* p = x + 2 * start;
            T v = load(p);
            T a = _mm256_permute_ps(v, _MM_SHUFFLE(1, 0, 1, 0)); // x0 x0 | x2 x2
            T b = _mm256_permute_ps(v, _MM_SHUFFLE(3, 2, 3, 2)); // x1 x1 | x3 x3
            butterfly<Avx2>(a, b, r1, i1);
            v = _mm256_blend_ps(a, b, 0xCC);        // a + t, a - t in each half
            a = _mm256_permute2f128_ps(v, v, 0x00); // y0 y1 | y0 y1
            b = _mm256_permute2f128_ps(v, v, 0x11); // y2 y3 | y2 y3
            butterfly<Avx2>(a, b, r2, i2);
            store(p, _mm256_permute2f128_ps(a, b, 0x30)); // a + t | a - t
        }
    }
};

using Avx2Kernels = VectorKernels<Avx2, kSse2>;

} // namespace

const Kernels kAvx2 = {Avx2Kernels::line, Avx2Kernels::line_last, Avx2Kernels::rows,
                       Avx2Kernels::rows_last};

} // namespace fft_kernels

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#endif
