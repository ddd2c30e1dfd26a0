#pragma once

#include <cstdint>

// In-place radix-2 complex transforms on single-precision data, unit-offset
// addressed: data points one float before the first real part, and nn[1..ndim]
// hold the lengths (nn[0] is not read). Sign +1: X[k] = sum x[j] e^{+2 pi i jk/N};
// sign -1 the conjugate kernel. No scaling in either direction. Every length
// must be a power of two; nothing is checked.
void fft_1d(float* data, std::uint32_t n, int isign);
void fft_nd(float* data, const std::uint32_t* nn, int ndim, int isign);
