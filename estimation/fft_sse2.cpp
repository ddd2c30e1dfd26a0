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

    // The four samples of each of the vectors' two m, stored together at
    // rev(m) (the first pass of gather_first_pass).
    static void store_four(float* work, const std::uint32_t* rev, T a, T b, T c, T d) {
        float* w0 = work + 2 * static_cast<std::size_t>(rev[0]);
        float* w1 = work + 2 * static_cast<std::size_t>(rev[1]);
        store(w0, _mm_movelh_ps(a, b));
        store(w0 + 4, _mm_movelh_ps(c, d));
        store(w1, _mm_movehl_ps(b, a));
        store(w1 + 4, _mm_movehl_ps(d, c));
    }
};

using Sse2Kernels = VectorKernels<Sse2, kScalar>;

} // namespace

const Kernels kSse2 = {Sse2Kernels::line_begin, Sse2Kernels::line_end,
                       Sse2Kernels::line_last_zero_upper, Sse2Kernels::rows,
                       Sse2Kernels::rows_last_zero_upper};

} // namespace fft_kernels

#endif
