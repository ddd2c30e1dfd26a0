// The element-wise passes with four doubles per vector (two samples), for
// the AVX2 path: per sample the same operations on the same operands as the
// plain loops. Only the functions of this file carry the AVX2 target; the
// caller runs them only where the AVX2 transform path is in use. Never FMA.
#include "estimation/elementwise_passes_avx2.h"

#ifdef __SSE2__ // x86

#include "estimation/avx2_target_begin.h"

#include <immintrin.h>

namespace {

__m256d widen(const fcomplex* p) { // re0, im0, re1, im1
    return _mm256_cvtps_pd(_mm_loadu_ps(&p->re));
}

} // namespace

// (re, im) = (a.re f.re - a.im f.im, a.re f.im + a.im f.re): addsub takes the
// difference in the even lanes and the sum in the odd ones.
std::size_t multiply_by_filter_avx2(fcomplex* v, const fcomplex* f, std::size_t count) {
    std::size_t i = 0;
    for (; i + 2 <= count; i += 2) {
        const __m256d a = widen(v + i);
        const __m256d b = widen(f + i);
        const __m256d p = _mm256_mul_pd(a, _mm256_movedup_pd(b)); // a.re f.re, a.im f.re
        const __m256d q = _mm256_mul_pd(_mm256_permute_pd(a, 0x5),
                                        _mm256_unpackhi_pd(b, b)); // a.im f.im, a.re f.im
        const __m256d first = _mm256_blend_pd(q, p, 0x5);          // a.re f.re, a.re f.im
        const __m256d second = _mm256_blend_pd(p, q, 0x5);         // a.im f.im, a.im f.re
        _mm_storeu_ps(&v[i].re, _mm256_cvtpd_ps(_mm256_addsub_pd(first, second)));
    }
    return i;
}

// re^2 + im^2 in double, rounded to float; clip (as float) where the rounded
// value, widened again, exceeds clip.
std::size_t clipped_intensities_avx2(const fcomplex* in, fcomplex* out, std::size_t count,
                                     double clip) {
    const __m256d clipD = _mm256_set1_pd(clip);
    const __m128 clipF = _mm_set1_ps(static_cast<float>(clip));
    const __m256i evenHalves = _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6);
    const __m128 zero = _mm_setzero_ps();
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        __m256d lo = widen(in + i);     // samples i, i+1
        __m256d hi = widen(in + i + 2); // samples i+2, i+3
        lo = _mm256_mul_pd(lo, lo);
        hi = _mm256_mul_pd(hi, hi);
        // Samples in the order i, i+2, i+1, i+3 from here on.
        const __m128 f =
            _mm256_cvtpd_ps(_mm256_add_pd(_mm256_unpacklo_pd(lo, hi), _mm256_unpackhi_pd(lo, hi)));
        const __m256d over = _mm256_cmp_pd(_mm256_cvtps_pd(f), clipD, _CMP_GT_OQ);
        const __m128 mask =
            _mm256_castps256_ps128(_mm256_permutevar8x32_ps(_mm256_castpd_ps(over), evenHalves));
        __m128 clipped = _mm_blendv_ps(f, clipF, mask);
        clipped = _mm_shuffle_ps(clipped, clipped, _MM_SHUFFLE(3, 1, 2, 0)); // i .. i+3
        _mm_storeu_ps(&out[i].re, _mm_unpacklo_ps(clipped, zero));
        _mm_storeu_ps(&out[i + 2].re, _mm_unpackhi_ps(clipped, zero));
    }
    return i;
}

namespace {

// Four samples, each part times s in double, rounded to float.
__m256 scaled(const fcomplex* p, __m256d s) {
    const __m128 lo = _mm256_cvtpd_ps(_mm256_mul_pd(widen(p), s));
    const __m128 hi = _mm256_cvtpd_ps(_mm256_mul_pd(widen(p + 2), s));
    return _mm256_set_m128(hi, lo);
}

} // namespace

// As the SSE2 form, four samples per vector: the shuffles work within each
// 128-bit half, two samples each.
std::size_t scaled_cross_spectrum_avx2(fcomplex* a, fcomplex* b, fcomplex* x, std::size_t count,
                                       double s) {
    const __m256d sD = _mm256_set1_pd(s);
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m256 va = scaled(a + i, sD);
        const __m256 vb = scaled(b + i, sD);
        _mm256_storeu_ps(&a[i].re, va);
        _mm256_storeu_ps(&b[i].re, vb);
        const __m256 p = _mm256_mul_ps(vb, va); // b.re a.re, b.im a.im
        const __m256 q = _mm256_mul_ps(_mm256_permute_ps(vb, _MM_SHUFFLE(2, 3, 0, 1)),
                                       va); // b.im a.re, b.re a.im
        const __m256 first = _mm256_shuffle_ps(p, q, _MM_SHUFFLE(2, 0, 3, 1));  // p.im, q.re
        const __m256 second = _mm256_shuffle_ps(p, q, _MM_SHUFFLE(3, 1, 2, 0)); // p.re, q.im
        const __m256 parts =
            _mm256_shuffle_ps(_mm256_add_ps(first, second), _mm256_sub_ps(first, second),
                              _MM_SHUFFLE(3, 2, 1, 0)); // re0 re1 im0 im1 per half
        _mm256_storeu_ps(&x[i].re, _mm256_permute_ps(parts, _MM_SHUFFLE(3, 1, 2, 0)));
    }
    return i;
}

#include "estimation/avx2_target_end.h"

#endif
