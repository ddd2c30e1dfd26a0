// The AVX2 path: four complex samples per vector. Only the functions of this
// file are compiled for AVX2 (a target option on them, not a flag on the
// file, so no library code shared with the rest of the program is); the
// caller runs them only on processors that have it. Never FMA: every product
// is rounded before its sum, as in the other paths.
#include "estimation/fft_kernels.h"

#ifdef __SSE2__ // x86

#include "estimation/avx2_target_begin.h"
#include "estimation/fft_vector_loops.h"

#include <cstddef>
#include <immintrin.h>

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

    static T zero() { return _mm256_setzero_ps(); }

    // Lines of 16 samples and more: the quarter n/4 holds at least a vector.
    static constexpr std::uint32_t kMinLine = 16;

    // The four samples of each of the vectors' four m, stored together at
    // rev(m): a 4 x 4 transpose of complex samples.
    static void store_four(float* work, const std::uint32_t* rev, T a, T b, T c, T d) {
        const __m256d ab0 = _mm256_unpacklo_pd(_mm256_castps_pd(a), _mm256_castps_pd(b));
        const __m256d ab1 = _mm256_unpackhi_pd(_mm256_castps_pd(a), _mm256_castps_pd(b));
        const __m256d cd0 = _mm256_unpacklo_pd(_mm256_castps_pd(c), _mm256_castps_pd(d));
        const __m256d cd1 = _mm256_unpackhi_pd(_mm256_castps_pd(c), _mm256_castps_pd(d));
        store(work + 2 * static_cast<std::size_t>(rev[0]),
              _mm256_castpd_ps(_mm256_permute2f128_pd(ab0, cd0, 0x20)));
        store(work + 2 * static_cast<std::size_t>(rev[1]),
              _mm256_castpd_ps(_mm256_permute2f128_pd(ab1, cd1, 0x20)));
        store(work + 2 * static_cast<std::size_t>(rev[2]),
              _mm256_castpd_ps(_mm256_permute2f128_pd(ab0, cd0, 0x31)));
        store(work + 2 * static_cast<std::size_t>(rev[3]),
              _mm256_castpd_ps(_mm256_permute2f128_pd(ab1, cd1, 0x31)));
    }
};

using Avx2Kernels = VectorKernels<Avx2, kSse2>;

} // namespace

const Kernels kAvx2 = {Avx2Kernels::line_begin, Avx2Kernels::line_end,
                       Avx2Kernels::line_last_zero_upper, Avx2Kernels::rows,
                       Avx2Kernels::rows_last_zero_upper};

} // namespace fft_kernels

#include "estimation/avx2_target_end.h"

#endif
