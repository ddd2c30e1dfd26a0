#include "estimation/fft.h"

#include <cmath>
#include <utility>

// Both transforms address the floats from element 1: the real part of the
// zero-based sample k is data[2k+1], its imaginary part data[2k+2].
//
// The arithmetic below is part of the results: the twiddle factors come from a
// double-precision recurrence started from two sines per stage (never from
// tables), and the 2 pi constant keeps its 15-digit spelling. fft_1d rounds the
// double butterfly product to float; fft_nd rounds the twiddle to float and
// works in float throughout.

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

void fft_nd(float* data, const std::uint32_t* nn, int ndim, int isign) {
    std::uint32_t ntot = 1;
    for (int dim = 1; dim <= ndim; dim++)
        ntot *= nn[dim];

    // Dimensions last to first; nprev (the product of the lengths done so far)
    // is the sample stride of the current one.
    std::uint32_t nprev = 1;
    for (int dim = ndim; dim >= 1; dim--) {
        const std::uint32_t n = nn[dim];
        const std::uint32_t nrem = ntot / (n * nprev);
        const std::uint32_t ip1 = nprev << 1; // one index step, in floats
        const std::uint32_t ip2 = ip1 * n;    // one full line of this dimension
        const std::uint32_t ip3 = ip2 * nrem; // the whole array

        // Bit reversal along this dimension, moving whole strided groups.
        std::uint32_t i2rev = 1;
        for (std::uint32_t i2 = 1; i2 <= ip2; i2 += ip1) {
            if (i2 < i2rev) {
                for (std::uint32_t i1 = i2; i1 <= i2 + ip1 - 2; i1 += 2)
                    for (std::uint32_t i3 = i1; i3 <= ip3; i3 += ip2)
                        swap_samples(data, i3, i2rev + i3 - i2);
            }
            std::uint32_t ibit = ip2 >> 1;
            while (ibit >= ip1 && i2rev > ibit) {
                i2rev -= ibit;
                ibit >>= 1;
            }
            i2rev += ibit;
        }

        // Butterfly stages; ifp1 is the current span in floats.
        for (std::uint32_t ifp1 = ip1; ifp1 < ip2; ifp1 <<= 1) {
            const std::uint32_t ifp2 = ifp1 << 1;
            TwiddleRecurrence w(isign * kTwoPi / (ifp2 / ip1));
            for (std::uint32_t i3 = 1; i3 <= ifp1; i3 += ip1) {
                const float wr = static_cast<float>(w.re());
                const float wi = static_cast<float>(w.im());
                for (std::uint32_t i1 = i3; i1 <= i3 + ip1 - 2; i1 += 2) {
                    for (std::uint32_t k1 = i1; k1 <= ip3; k1 += ifp2) {
                        const std::uint32_t k2 = k1 + ifp1;
                        const float tr = wr * data[k2] - wi * data[k2 + 1];
                        const float ti = wr * data[k2 + 1] + wi * data[k2];
                        data[k2] = data[k1] - tr;
                        data[k2 + 1] = data[k1 + 1] - ti;
                        data[k1] += tr;
                        data[k1 + 1] += ti;
                    }
                }
                w.advance();
            }
        }
        nprev *= n;
    }
}
