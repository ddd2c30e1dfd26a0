#include "estimation/fft.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <memory>
#include <utility>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

// Both transforms address the floats from element 1: the real part of the
// zero-based sample k is data[2k+1], its imaginary part data[2k+2].
//
// The arithmetic below is part of the results: the twiddle factors come from a
// double-precision recurrence started from two sines per stage, and the 2 pi
// constant keeps its 15-digit spelling. fft_1d rounds the double butterfly
// product to float; fft_nd rounds the twiddle to float and works in float
// throughout. fft_nd keeps the float twiddles the recurrence yields in tables
// and orders the independent butterflies of a stage for the cache and for
// two-sample vectors; every sample sees the same operations on the same
// values, so the results are those of the plain loops bit for bit.

namespace {

constexpr double kTwoPi = 6.28318530717959;

// Twiddle factor w = exp(i theta * g) for the g-th group of a stage, advanced
// group by group through the trigonometric recurrence.
class TwiddleRecurrence {
public:
    explicit TwiddleRecurrence(double theta) {
        const double wtemp = std::sin(0.5 * theta);
        wpr_ = -2.0 * wtemp * wtemp;
        wpi_ = std::sin(theta);
    }
    double re() const { return wr_; }
    double im() const { return wi_; }
    void advance() {
        const double wr_old = wr_;
        wr_ = wr_ + (wr_ * wpr_ - wi_ * wpi_);
        wi_ = wi_ + (wi_ * wpr_ + wr_old * wpi_);
    }

private:
    double wpr_;
    double wpi_;
    double wr_ = 1.0;
    double wi_ = 0.0;
};

void swap_samples(float* data, std::uint32_t i, std::uint32_t j) {
    std::swap(data[i], data[j]);
    std::swap(data[i + 1], data[j + 1]);
}

} // namespace

void fft_1d(float* data, std::uint32_t n, int isign) {
    const std::uint32_t nfloats = n << 1;

    // Bit-reversal permutation; j is the reversed float position of i.
    std::uint32_t j = 1;
    for (std::uint32_t i = 1; i < nfloats; i += 2) {
        if (j > i)
            swap_samples(data, i, j);
        std::uint32_t m = n;
        while (m >= 2 && j > m) {
            j -= m;
            m >>= 1;
        }
        j += m;
    }

    // Danielson-Lanczos stages; span is the distance in floats between the
    // two inputs of a butterfly.
    for (std::uint32_t span = 2; nfloats > span; span <<= 1) {
        const std::uint32_t step = span << 1;
        TwiddleRecurrence w((kTwoPi / span) * isign);
        for (std::uint32_t group = 1; group < span; group += 2) {
            for (std::uint32_t i = group; i <= nfloats; i += step) {
                const std::uint32_t k = i + span;
                const float tr = static_cast<float>(w.re() * data[k] - w.im() * data[k + 1]);
                const float ti = static_cast<float>(w.re() * data[k + 1] + w.im() * data[k]);
                data[k] = data[i] - tr;
                data[k + 1] = data[i + 1] - ti;
                data[i] += tr;
                data[i + 1] += ti;
            }
            w.advance();
        }
    }
}

namespace {

// The float twiddles of one butterfly stage of fft_nd, exactly as the
// recurrence yields them group by group (double recurrence, rounded to float
// once per group). They depend only on the stage's span ratio and the sign,
// so each is computed once per process and reused by every transform. Each
// value is stored twice, side by side, to match interleaved complex data.
struct StageTwiddles {
    explicit StageTwiddles(std::uint32_t groups)
        : re2(new float[2 * static_cast<std::size_t>(groups)]),
          im2(new float[2 * static_cast<std::size_t>(groups)]) {}
    std::unique_ptr<float[]> re2; // wr_g, wr_g for group g
    std::unique_ptr<float[]> im2; // wi_g, wi_g
};

const StageTwiddles& stage_twiddles(std::uint32_t ratio, int isign) {
    // By sign, then by log2 of the ratio (lengths stay below 2^32).
    static std::unique_ptr<StageTwiddles> cache[2][32];
    unsigned log2 = 0;
    while ((1u << log2) < ratio)
        log2++;
    std::unique_ptr<StageTwiddles>& slot = cache[isign > 0 ? 1 : 0][log2];
    if (!slot) {
        const std::uint32_t groups = ratio >> 1;
        slot = std::make_unique<StageTwiddles>(groups);
        TwiddleRecurrence w(isign * kTwoPi / ratio);
        for (std::uint32_t g = 0; g < groups; g++) {
            slot->re2[2 * g] = slot->re2[2 * g + 1] = static_cast<float>(w.re());
            slot->im2[2 * g] = slot->im2[2 * g + 1] = static_cast<float>(w.im());
            w.advance();
        }
    }
    return *slot;
}

// One float butterfly on the complex samples at a and b with twiddle (wr, wi):
// t = w b; b = a - t; a = a + t.
inline void butterfly(float* a, float* b, float wr, float wi) {
    const float tr = wr * b[0] - wi * b[1];
    const float ti = wr * b[1] + wi * b[0];
    b[0] = a[0] - tr;
    b[1] = a[1] - ti;
    a[0] += tr;
    a[1] += ti;
}

#ifdef __SSE2__
// The same operations on two complex samples at once: p = (wr br, wr bi),
// q = (wi bi, wi br); t = (p.re - q.re, p.im + q.im), the subtraction taken
// as the addition of the negated product, which IEEE defines it to be.
inline __m128 twiddle_product(__m128 b, __m128 wr, __m128 wi) {
    const __m128 negateRe = _mm_castsi128_ps(_mm_set_epi32(0, INT32_MIN, 0, INT32_MIN));
    const __m128 swapped = _mm_shuffle_ps(b, b, _MM_SHUFFLE(2, 3, 0, 1));
    return _mm_add_ps(_mm_mul_ps(wr, b), _mm_xor_ps(_mm_mul_ps(wi, swapped), negateRe));
}

inline void butterfly2(float* a, float* b, __m128 wr, __m128 wi) {
    const __m128 t = twiddle_product(_mm_loadu_ps(b), wr, wi);
    const __m128 va = _mm_loadu_ps(a);
    _mm_storeu_ps(b, _mm_sub_ps(va, t));
    _mm_storeu_ps(a, _mm_add_ps(va, t));
}
#endif

// Butterflies of count consecutive sample pairs (a[k], b[k]) sharing one
// twiddle: the dimensions whose stride is a whole line.
void butterfly_run(float* a, float* b, std::uint32_t count, float wr, float wi) {
    std::uint32_t k = 0;
#ifdef __SSE2__
    const __m128 vr = _mm_set1_ps(wr);
    const __m128 vi = _mm_set1_ps(wi);
    for (; k + 2 <= count; k += 2)
        butterfly2(a + 2 * k, b + 2 * k, vr, vi);
#endif
    for (; k < count; k++)
        butterfly(a + 2 * k, b + 2 * k, wr, wi);
}

// Butterflies of half consecutive pairs (a[g], b[g]) with twiddle g each:
// one block of a stage of the dimension with unit stride.
void butterfly_groups(float* a, float* b, std::uint32_t half, const StageTwiddles& w) {
    std::uint32_t g = 0;
#ifdef __SSE2__
    for (; g + 2 <= half; g += 2)
        butterfly2(a + 2 * g, b + 2 * g, _mm_loadu_ps(&w.re2[2 * g]), _mm_loadu_ps(&w.im2[2 * g]));
#endif
    for (; g < half; g++)
        butterfly(a + 2 * g, b + 2 * g, w.re2[2 * g], w.im2[2 * g]);
}

// Transforms one dimension of length n whose samples lie stride samples
// apart, in every one of the blocks of n * stride samples, only those
// blocks that `active` admits. With halfOccupied, every transform of the
// dimension is known to hold data at even indices only and exact zeros
// elsewhere: after the bit reversal those zeros fill the upper half, where
// every butterfly before the last stage only reproduces zeros, so they are
// skipped.
template <class Active>
void transform_dimension(float* data, std::uint32_t n, std::uint32_t stride, std::uint32_t blocks,
                         int isign, bool halfOccupied, Active active) {
    const std::size_t group = 2 * static_cast<std::size_t>(stride); // floats per index step
    for (std::uint32_t blk = 0; blk < blocks; blk++) {
        if (!active(blk))
            continue;
        float* x = data + blk * group * n;

        // Bit reversal, moving whole groups of stride samples.
        std::uint32_t rev = 0;
        for (std::uint32_t i = 0; i < n; i++) {
            if (i < rev)
                std::swap_ranges(x + i * group, x + (i + 1) * group, x + rev * group);
            std::uint32_t bit = n >> 1;
            while (bit >= 1 && rev >= bit) {
                rev -= bit;
                bit >>= 1;
            }
            rev += bit;
        }

        // Stages of doubling span; every butterfly of a stage is independent
        // of the others, so their order is free.
        for (std::uint32_t half = 1; half < n; half <<= 1) {
            const std::uint32_t span = half << 1;
            const StageTwiddles& w = stage_twiddles(span, isign);
            const std::uint32_t end = (halfOccupied && span < n) ? n >> 1 : n;
            for (std::uint32_t start = 0; start < end; start += span) {
                float* a = x + start * group;
                float* b = a + half * group;
                if (stride == 1)
                    butterfly_groups(a, b, half, w);
                else
                    for (std::uint32_t g = 0; g < half; g++)
                        butterfly_run(a + g * group, b + g * group, stride, w.re2[2 * g],
                                      w.im2[2 * g]);
            }
        }
    }
}

} // namespace

void fft_nd(float* data, const std::uint32_t* nn, int ndim, int isign) {
    std::uint32_t ntot = 1;
    for (int dim = 1; dim <= ndim; dim++)
        ntot *= nn[dim];

    // Dimensions last to first; nprev (the product of the lengths done so far)
    // is the sample stride of the current one.
    std::uint32_t nprev = 1;
    for (int dim = ndim; dim >= 1; dim--) {
        const std::uint32_t n = nn[dim];
        transform_dimension(data + 1, n, nprev, ntot / (n * nprev), isign, false,
                            [](std::uint32_t) { return true; });
        nprev *= n;
    }
}

void fft_2d_zero_inserted(float* data, std::uint32_t lines, std::uint32_t samples, int isign) {
    // Odd lines are all zeros and stay so through the transforms along lines.
    transform_dimension(data + 1, samples, 1, lines, isign, true,
                        [](std::uint32_t line) { return line % 2 == 0; });
    transform_dimension(data + 1, lines, samples, 1, isign, true,
                        [](std::uint32_t) { return true; });
}
