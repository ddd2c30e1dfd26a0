#pragma once

// Internal to the transforms: the butterfly kernels of each instruction-set
// path and the twiddle tables they read. Every path performs each butterfly
// with the same float operations on the same operands, so all paths give the
// same bits; they differ only in how many butterflies one instruction does and
// in the order of independent butterflies.

#include <cstdint>

namespace fft_kernels {

// Float twiddles of one butterfly stage whose pairs lie `half` index steps
// apart (span ratio 2 half), group g < half using w_g = (wr_g, wi_g) as the
// double recurrence yields it, rounded to float. Laid out for interleaved
// complex data: re[2g] = re[2g+1] = wr_g, im[2g] = -wi_g, im[2g+1] = wi_g, so
// t = re b + im swap(b) = (wr br + (-wi) bi, wr bi + wi br). The real part is
// the subtraction wr br - wi bi in the form IEEE defines it, also for zeros,
// infinities and NaN operands.
struct Stage {
    const float* re;
    const float* im;
};

// stages[k] (k >= 1) is the stage with half = 2^(k-1); x addresses the real
// part of sample 0 (zero-based); the data are already in bit-reversed order.
struct Kernels {
    // All stages of one contiguous sequence of n samples.
    void (*line)(float* x, std::uint32_t n, const Stage* stages);
    // Only the last stage (half = n / 2) of one contiguous sequence.
    void (*line_last)(float* x, std::uint32_t n, const Stage& last);
    // All stages of n adjacent rows of width samples each, transformed along
    // the rows (every sample of a row shares its row's twiddle).
    void (*rows)(float* x, std::uint32_t n, std::uint32_t width, const Stage* stages);
    // Only the last stage of such rows.
    void (*rows_last)(float* x, std::uint32_t n, std::uint32_t width, const Stage& last);
};

extern const Kernels kScalar;
extern const Kernels kSse2; // x86-64 only
extern const Kernels kAvx2; // x86-64 only; callers check the processor first

// Plain single-butterfly stage loops, shared by the vector paths for the
// stages and widths too small for their vectors. half is the pair distance
// in samples; the stage covers n samples of a line, or n rows of width.
void scalar_line_stage(float* x, std::uint32_t n, std::uint32_t half, const Stage& stage);
void scalar_rows_stage(float* x, std::uint32_t n, std::uint32_t width, std::uint32_t half,
                       const Stage& stage);

} // namespace fft_kernels
