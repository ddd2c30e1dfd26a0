#pragma once

#include "resampling/sinc_kernel.h"

// The resampler's kernel: 12 taps, Kaiser window of beta 4, tabulated at
// 1/2048 sample. Measured with bench/fc_kernel_error on band-limited data at
// 80 % band occupancy (error power relative to the signal, one dimension):
//   taps            8      10      12      16
//   Hann         -24.8   -30.6   -37.8   -51.0
//   Blackman     -21.1   -25.2   -29.6   -39.9
//   Kaiser 2.5   -35.3   -36.3   -37.6   -40.8
//   Kaiser 3     -34.5   -40.3   -41.0   -44.3
//   Kaiser 4     -29.7   -38.2   -47.5   -51.3
//   Kaiser 5     -26.5   -33.0   -41.0   -59.3
// Eight taps reach -35 dB at best in one dimension, so not in two. Twelve
// with beta 4 give -47.5 dB (about -44.5 dB separable in two dimensions),
// ten below the -35 dB a tenth of a sample of misregistration already costs
// in coherence; sixteen would buy 12 dB more for a third more work per
// sample, which no coherence figure would show.
inline KernelShape resampling_kernel_shape() {
    return KernelShape{12, KernelWindow::kaiser, 4.0};
}
constexpr int kResamplingKernelPhases = 2048;
