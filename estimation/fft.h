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

// The same transform straight from the patch, without forming the array with
// zeros: in[j] (j < lines / 2) addresses the real part of the first of the
// samples / 2 complex samples of patch line j (zero-based, not unit-offset),
// which stands at line 2j, samples 0, 2, 4, ... of the array. data (unit
// offset, lines x samples) receives the transform and is not read. lines and
// samples are powers of two of at least 2. Bit for bit fft_nd of the array.
void fft_2d_zero_inserted_from(const float* const* in, std::uint32_t lines, std::uint32_t samples,
                               float* data, int isign);

// The instruction-set paths of fft_nd and fft_2d_zero_inserted: one butterfly
// at a time, two (SSE2) or four (AVX2) per instruction. Every path computes
// every butterfly with the same operations on the same operands, so all give
// the same bits; only the speed differs.
enum class FftPath { scalar, sse2, avx2 };

// Whether this build and processor can run the path.
bool fft_path_supported(FftPath path);

// The path in use. Fixed at the first transform (or query): the one named by
// the environment variable FINECOREG_FFT_PATH ("scalar", "sse2" or "avx2")
// when this processor has it, otherwise the widest it has.
FftPath fft_path();

// Makes path the one in use from now on (tests, benchmarks). Returns false
// and changes nothing when the processor cannot run it.
bool set_fft_path(FftPath path);

// "scalar", "sse2" or "avx2".
const char* fft_path_name(FftPath path);
