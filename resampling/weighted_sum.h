#pragma once

#include <complex>
#include <cstddef>

// The interpolation itself: taps samples, `stride` elements apart, weighted
// and summed in the weights' precision, real and imaginary parts apart, in
// tap order (so a given kernel and input always give the same bits).
template <typename Weight, typename Sample>
std::complex<Weight> weighted_sum(const Sample* samples, std::ptrdiff_t stride,
                                  const Weight* weights, int taps) {
    Weight re = 0;
    Weight im = 0;
    for (int j = 0; j < taps; j++) {
        const Sample& s = samples[j * stride];
        re += weights[j] * s.real();
        im += weights[j] * s.imag();
    }
    return {re, im};
}
