// The SSE2 path: two complex samples per vector.
#include "estimation/fft_kernels.h"

#ifdef __SSE2__

#include "estimation/fft_vector_loops.h"

#include <cstddef>
#include <emmintrin.h>

namespace fft_kernels {
namespace {

struct Sse2 {
    using T = __m128;
    static constexpr std::uint32_t kSamples = 2;

    static T load(const float* p) { return _mm_loadu_ps(p); }
    static void store(float* p, T v) { _mm_storeu_ps(p, v); }
    static T add(T a, T b) { return _mm_add_ps(a, b); }
    static T sub(T a, T b) { return _mm_sub_ps(a, b); }
    static T mul(T a, T b) { return _mm_mul_ps(a, b); }
    static T swap_parts(T v) { return _mm_shuffle_ps(v, v, _MM_SHUFFLE(2, 3, 0, 1)); }
    static T pair(const float* p) {
        return _mm_castpd_ps(_mm_load1_pd(reinterpret_cast<const double*>(p)));
    }

    static T zero() { return _mm_setzero_ps(); }

    // Lines of 8 samples and more: the quarter n/4 holds at least a vector.
    static constexpr std::uint32_t kMinLine = 8;

    // Stages 1 and 2 with the bit reversal: the samples m, m + n/2, m + n/4,
    // m + 3n/4 (m < n/4) land at positions 4k .. 4k+3, 4k = rev(m), where
    // stage 1 pairs the first two and the last two and stage 2 pairs them
    // across. Vectors over consecutive m, so every lane shares the twiddles;
    // a transpose then stores each m's four samples together.
    static void gather_first_pass(const float* src, float* work, std::uint32_t n, const Stage& s1,
                                  const Stage& s2, const std::uint32_t* rev) {
        const T r1 = pair(s1.re), i1 = pair(s1.im);
        const T r2 = pair(s2.re), i2 = pair(s2.im);
        const T r3 = pair(s2.re + 2), i3 = pair(s2.im + 2);
        const std::size_t q = n / 2; // floats in a quarter of the line
        for (std::uint32_t m = 0; m < n / 4; m += kSamples) {
            const float* p = src + 2 * m;
            T a = load(p), b = load(p + 2 * q), c = load(p + q), d = load(p + 3 * q);
            butterfly<Sse2>(a, b, r1, i1);
            butterfly<Sse2>(c, d, r1, i1);
            butterfly<Sse2>(a, c, r2, i2);
            butterfly<Sse2>(b, d, r3, i3);
            float* w0 = work + 2 * static_cast<std::size_t>(rev[m]);
            float* w1 = work + 2 * static_cast<std::size_t>(rev[m + 1]);
            store(w0, _mm_movelh_ps(a, b));
            store(w0 + 4, _mm_movelh_ps(c, d));
            store(w1, _mm_movehl_ps(b, a));
            store(w1 + 4, _mm_movehl_ps(d, c));
        }
    }
};

using Sse2Kernels = VectorKernels<Sse2, kScalar>;

} // namespace

const Kernels kSse2 = {Sse2Kernels::line_begin, Sse2Kernels::line_end,
                       Sse2Kernels::line_last_zero_upper, Sse2Kernels::rows,
                       Sse2Kernels::rows_last_zero_upper};

} // namespace fft_kernels

#endif
