// The transform along every dimension written as plain loops: bit reversal,
// then each stage's twiddles from the double recurrence, rounded to float
// once per group, and the butterflies in the order of the loop indices. The
// module's fft_nd must reproduce it bit for bit.
#include "fft_nd_reference.h"

#include <cmath>
#include <utility>

namespace {

constexpr double kTwoPi = 6.28318530717959;

void swap_samples(float* data, std::uint32_t i, std::uint32_t j) {
    std::swap(data[i], data[j]);
    std::swap(data[i + 1], data[j + 1]);
}

} // namespace

void fft_nd_reference(float* data, const std::uint32_t* nn, int ndim, int isign) {
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
            const double theta = isign * kTwoPi / (ifp2 / ip1);
            const double wtemp = std::sin(0.5 * theta);
            const double wpr = -2.0 * wtemp * wtemp;
            const double wpi = std::sin(theta);
            double wr_d = 1.0, wi_d = 0.0;
            for (std::uint32_t i3 = 1; i3 <= ifp1; i3 += ip1) {
                const float wr = static_cast<float>(wr_d);
                const float wi = static_cast<float>(wi_d);
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
                const double wr_old = wr_d;
                wr_d = wr_d + (wr_d * wpr - wi_d * wpi);
                wi_d = wi_d + (wi_d * wpr + wr_old * wpi);
            }
        }
        nprev *= n;
    }
}
