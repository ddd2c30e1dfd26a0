// The SSE2 path: two complex samples per vector.
#include "estimation/fft_kernels.h"

#ifdef __SSE2__

#include "estimation/fft_vector_loops.h"

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

    // Stage 1 inside each vector (x0, x1), then stage 2 across the two
    // vectors of a block of four samples, whose lanes are its pairs.
    static void first_stages(float* x, std::uint32_t n, const Stage& s1, const Stage& s2) {
        const T r1 = pair(s1.re), i1 = pair(s1.im);
        const T r2 = load(s2.re), i2 = load(s2.im);
        for (std::uint32_t start = 0; start < n; start += 4) {
            float* p = x + 2 * start;
            T lo = stage_one(load(p), r1, i1);
            T hi = stage_one(load(p + 4), r1, i1);
            butterfly<Sse2>(lo, hi, r2, i2);
            store(p, lo);
            store(p + 4, hi);
        }
    }

    static T stage_one(T v, T r, T i) {
        T a = _mm_movelh_ps(v, v); // x0 x0
        T b = _mm_movehl_ps(v, v); // x1 x1
        butterfly<Sse2>(a, b, r, i);
        return _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 2, 1, 0)); // a + t, a - t
    }
};

using Sse2Kernels = VectorKernels<Sse2, kScalar>;

} // namespace

const Kernels kSse2 = {Sse2Kernels::line, Sse2Kernels::line_last, Sse2Kernels::rows,
                       Sse2Kernels::rows_last};

} // namespace fft_kernels

#endif
