#include "estimation/elementwise_passes.h"

#include "estimation/elementwise_passes_avx2.h"
#include "estimation/fft.h"

#include <cmath>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

// ---- One sample, the plain operations ----------------------------------

void multiply_one(fcomplex& v, fcomplex f) {
    const fcomplex a = v;
    v.re = static_cast<float>(static_cast<double>(a.re) * f.re - static_cast<double>(a.im) * f.im);
    v.im = static_cast<float>(static_cast<double>(a.re) * f.im + static_cast<double>(a.im) * f.re);
}

fcomplex clipped_intensity(fcomplex v, double clip) {
    float intensity =
        static_cast<float>(static_cast<double>(v.re) * v.re + static_cast<double>(v.im) * v.im);
    if (static_cast<double>(intensity) > clip)
        intensity = static_cast<float>(clip);
    return fcomplex{intensity, 0.0f};
}

void cross_one(fcomplex& a, fcomplex& b, fcomplex& x, double s) {
    a.re = static_cast<float>(a.re * s);
    a.im = static_cast<float>(a.im * s);
    b.re = static_cast<float>(b.re * s);
    b.im = static_cast<float>(b.im * s);
    x.re = b.im * a.im + b.re * a.re;
    x.im = b.im * a.re - a.im * b.re;
}

bool vectors() {
    return fft_path() != FftPath::scalar;
}

bool avx2() {
    return fft_path() == FftPath::avx2;
}

#ifdef __SSE2__
// ---- Two samples per vector, the same operations per sample ------------

// (re, im) of one sample widened to double.
__m128d widen(const fcomplex* p) {
    return _mm_cvtps_pd(_mm_castpd_ps(_mm_load_sd(reinterpret_cast<const double*>(p))));
}

void multiply_sse2(fcomplex* v, const fcomplex* f, std::size_t count) {
    for (std::size_t i = 0; i < count; i++) {
        const __m128d a = widen(v + i);                         // a.re, a.im
        const __m128d b = widen(f + i);                         // f.re, f.im
        const __m128d p = _mm_mul_pd(a, _mm_unpacklo_pd(b, b)); // a.re f.re, a.im f.re
        const __m128d q =
            _mm_mul_pd(_mm_shuffle_pd(a, a, 1), _mm_unpackhi_pd(b, b)); // a.im f.im, a.re f.im
        const __m128d first = _mm_move_sd(q, p);                        // a.re f.re, a.re f.im
        const __m128d second = _mm_move_sd(p, q);                       // a.im f.im, a.im f.re
        const __m128d result = _mm_move_sd(_mm_add_pd(first, second), _mm_sub_pd(first, second));
        _mm_storel_pi(reinterpret_cast<__m64*>(v + i), _mm_cvtpd_ps(result));
    }
}

void intensities_sse2(const fcomplex* in, fcomplex* out, std::size_t count, double clip) {
    const __m128d clipD = _mm_set1_pd(clip);
    const __m128 clipF = _mm_set1_ps(static_cast<float>(clip));
    std::size_t i = 0;
    for (; i + 2 <= count; i += 2) {
        const __m128 v = _mm_loadu_ps(&in[i].re);
        __m128d lo = _mm_cvtps_pd(v);                   // re0, im0
        __m128d hi = _mm_cvtps_pd(_mm_movehl_ps(v, v)); // re1, im1
        lo = _mm_mul_pd(lo, lo);
        hi = _mm_mul_pd(hi, hi);
        const __m128 f = _mm_cvtpd_ps(_mm_add_pd(_mm_unpacklo_pd(lo, hi), _mm_unpackhi_pd(lo, hi)));
        const __m128d over = _mm_cmpgt_pd(_mm_cvtps_pd(f), clipD);
        const __m128 mask =
            _mm_shuffle_ps(_mm_castpd_ps(over), _mm_castpd_ps(over), _MM_SHUFFLE(2, 0, 2, 0));
        const __m128 clipped = _mm_or_ps(_mm_and_ps(mask, clipF), _mm_andnot_ps(mask, f));
        _mm_storeu_ps(&out[i].re, _mm_unpacklo_ps(clipped, _mm_setzero_ps()));
    }
    for (; i < count; i++)
        out[i] = clipped_intensity(in[i], clip);
}

__m128 scaled(__m128 v, __m128d s) {
    const __m128 lo = _mm_cvtpd_ps(_mm_mul_pd(_mm_cvtps_pd(v), s));
    const __m128 hi = _mm_cvtpd_ps(_mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(v, v)), s));
    return _mm_movelh_ps(lo, hi);
}

void cross_sse2(fcomplex* a, fcomplex* b, fcomplex* x, std::size_t count, double s) {
    const __m128d sD = _mm_set1_pd(s);
    std::size_t i = 0;
    for (; i + 2 <= count; i += 2) {
        const __m128 va = scaled(_mm_loadu_ps(&a[i].re), sD);
        const __m128 vb = scaled(_mm_loadu_ps(&b[i].re), sD);
        _mm_storeu_ps(&a[i].re, va);
        _mm_storeu_ps(&b[i].re, vb);
        const __m128 p = _mm_mul_ps(vb, va); // b.re a.re, b.im a.im (per sample)
        const __m128 q = _mm_mul_ps(_mm_shuffle_ps(vb, vb, _MM_SHUFFLE(2, 3, 0, 1)),
                                    va);                                     // b.im a.re, b.re a.im
        const __m128 first = _mm_shuffle_ps(p, q, _MM_SHUFFLE(2, 0, 3, 1));  // p.im, q.re
        const __m128 second = _mm_shuffle_ps(p, q, _MM_SHUFFLE(3, 1, 2, 0)); // p.re, q.im
        const __m128 parts = _mm_shuffle_ps(_mm_add_ps(first, second), _mm_sub_ps(first, second),
                                            _MM_SHUFFLE(3, 2, 1, 0)); // re0 re1 im0 im1
        _mm_storeu_ps(&x[i].re, _mm_shuffle_ps(parts, parts, _MM_SHUFFLE(3, 1, 2, 0)));
    }
    for (; i < count; i++)
        cross_one(a[i], b[i], x[i], s);
}

void magnitudes_sse2(fcomplex* x, std::size_t count) {
    const __m128 keep = _mm_castsi128_ps(_mm_set_epi32(0, 0x7fffffff, 0, 0x7fffffff));
    std::size_t i = 0;
    for (; i + 2 <= count; i += 2)
        _mm_storeu_ps(&x[i].re, _mm_and_ps(_mm_loadu_ps(&x[i].re), keep));
    for (; i < count; i++)
        x[i] = fcomplex{std::fabs(x[i].re), 0.0f};
}
#endif

} // namespace

void multiply_by_filter(fcomplex* v, const fcomplex* f, std::size_t count) {
#ifdef __SSE2__
    if (avx2()) {
        const std::size_t done = multiply_by_filter_avx2(v, f, count);
        v += done;
        f += done;
        count -= done;
    }
    if (vectors())
        return multiply_sse2(v, f, count);
#endif
    for (std::size_t i = 0; i < count; i++)
        multiply_one(v[i], f[i]);
}

void clipped_intensities(const fcomplex* in, fcomplex* out, std::size_t count, double clip) {
#ifdef __SSE2__
    if (avx2()) {
        const std::size_t done = clipped_intensities_avx2(in, out, count, clip);
        in += done;
        out += done;
        count -= done;
    }
    if (vectors())
        return intensities_sse2(in, out, count, clip);
#endif
    for (std::size_t i = 0; i < count; i++)
        out[i] = clipped_intensity(in[i], clip);
}

void scaled_cross_spectrum(fcomplex* a, fcomplex* b, fcomplex* x, std::size_t count, double s) {
#ifdef __SSE2__
    if (avx2()) {
        const std::size_t done = scaled_cross_spectrum_avx2(a, b, x, count, s);
        a += done;
        b += done;
        x += done;
        count -= done;
    }
    if (vectors())
        return cross_sse2(a, b, x, count, s);
#endif
    for (std::size_t i = 0; i < count; i++)
        cross_one(a[i], b[i], x[i], s);
}

void magnitudes(fcomplex* x, std::size_t count) {
#ifdef __SSE2__
    if (vectors())
        return magnitudes_sse2(x, count);
#endif
    for (std::size_t i = 0; i < count; i++)
        x[i] = fcomplex{std::fabs(x[i].re), 0.0f};
}
