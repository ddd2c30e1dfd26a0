#include "sim_fft.h"

#include <algorithm>
#include <cmath>

namespace slcsim {

using cd = std::complex<double>;

ComplexFft::ComplexFft(std::size_t n, bool inverse)
    : n_(n), inverse_(inverse), twiddles_(n), input_(n) {
    const double sign = inverse ? 1.0 : -1.0;
    for (std::size_t i = 0; i < n; i++) {
        const double phase = sign * 2.0 * M_PI * static_cast<double>(i) / static_cast<double>(n);
        twiddles_[i] = cd(std::cos(phase), std::sin(phase));
    }
    std::size_t rest = n;
    std::size_t p = 4;
    std::size_t largest = 1;
    while (rest > 1) {
        while (rest % p != 0) {
            p = p == 4 ? 2 : p == 2 ? 3 : p + 2;
            if (p * p > rest)
                p = rest;
        }
        rest /= p;
        factors_.push_back(p);
        factors_.push_back(rest);
        largest = std::max(largest, p);
    }
    scratch_.resize(largest);
}

void ComplexFft::transform(cd* data) {
    if (n_ <= 1)
        return;
    std::copy(data, data + n_, input_.begin());
    work(data, input_.data(), 1, factors_.data());
}

// Decimation in time: the p sub-sequences of stride fstride*p are
// transformed into consecutive blocks of out, then combined.
void ComplexFft::work(cd* out, const cd* in, std::size_t fstride, const std::size_t* factors) {
    const std::size_t p = factors[0];
    const std::size_t m = factors[1];
    if (m == 1) {
        for (std::size_t q = 0; q < p; q++)
            out[q] = in[q * fstride];
    } else {
        for (std::size_t q = 0; q < p; q++)
            work(out + q * m, in + q * fstride, fstride * p, factors + 2);
    }
    if (p == 2)
        radix2(out, fstride, m);
    else if (p == 4)
        radix4(out, fstride, m);
    else
        generic(out, fstride, p, m);
}

void ComplexFft::radix2(cd* out, std::size_t fstride, std::size_t m) const {
    for (std::size_t k = 0; k < m; k++) {
        const cd t = out[k + m] * twiddles_[k * fstride];
        out[k + m] = out[k] - t;
        out[k] += t;
    }
}

void ComplexFft::radix4(cd* out, std::size_t fstride, std::size_t m) const {
    for (std::size_t k = 0; k < m; k++) {
        const cd s0 = out[k + m] * twiddles_[k * fstride];
        const cd s1 = out[k + 2 * m] * twiddles_[2 * k * fstride];
        const cd s2 = out[k + 3 * m] * twiddles_[3 * k * fstride];
        const cd s5 = out[k] - s1;
        out[k] += s1;
        const cd s3 = s0 + s2;
        const cd s4 = s0 - s2;
        out[k + 2 * m] = out[k] - s3;
        out[k] += s3;
        // s4 times -i (forward) or +i (inverse).
        const cd rotated = inverse_ ? cd(-s4.imag(), s4.real()) : cd(s4.imag(), -s4.real());
        out[k + m] = s5 + rotated;
        out[k + 3 * m] = s5 - rotated;
    }
}

void ComplexFft::generic(cd* out, std::size_t fstride, std::size_t p, std::size_t m) {
    for (std::size_t u = 0; u < m; u++) {
        for (std::size_t q = 0; q < p; q++)
            scratch_[q] = out[u + q * m];
        for (std::size_t q1 = 0; q1 < p; q1++) {
            const std::size_t k = u + q1 * m;
            std::size_t index = 0;
            cd sum = scratch_[0];
            for (std::size_t q = 1; q < p; q++) {
                index = (index + fstride * k) % n_;
                sum += scratch_[q] * twiddles_[index];
            }
            out[k] = sum;
        }
    }
}

std::size_t smooth_length(std::size_t n) {
    for (std::size_t candidate = std::max<std::size_t>(n, 1);; candidate++) {
        std::size_t rest = candidate;
        for (std::size_t f : {2, 3, 5})
            while (rest % f == 0)
                rest /= f;
        if (rest == 1)
            return candidate;
    }
}

} // namespace slcsim
