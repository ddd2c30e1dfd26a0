#pragma once

#include <cstdint>

// In-place radix-2 complex transforms on single-precision data, unit-offset
// addressed: data points one float before the first real part, and nn[1..ndim]
// hold the lengths (nn[0] is not read). Sign +1: X[k] = sum x[j] e^{+2 pi i jk/N};
// sign -1 the conjugate kernel. No scaling in either direction. Every length
// must be a power of two; nothing is checked.
void fft_1d(float* data, std::uint32_t n, int isign);
void fft_nd(float* data, const std::uint32_t* nn, int ndim, int isign);

// fft_nd over two dimensions (lines, samples) of data that hold non-zero
// values only at even lines and even samples, every other value +0, as a
// patch with zeros inserted for oversampling by 2. The result is bit for bit
// that of fft_nd; the butterflies that only turn zeros into zeros are skipped.
void fft_2d_zero_inserted(float* data, std::uint32_t lines, std::uint32_t samples, int isign);
