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

// stages[k] (k >= 1) is the stage with half = 2^(k-1). Pointers address the
// real part of sample 0 (zero-based).
//
// A contiguous sequence is transformed out of place through a work buffer of
// n samples: line_begin gathers src in bit-reversed order (rev[i] is the
// reversal of i) into work and does every pass but the last, line_end does
// the last pass from work to dst. dst may be src, or a sequence whose data
// line_begin has already read; the passes between (one or two stages each)
// are the path's own.
struct Kernels {
    void (*line_begin)(const float* src, float* work, std::uint32_t n, const Stage* stages,
                       const std::uint32_t* rev);
    void (*line_end)(const float* work, float* dst, std::uint32_t n, const Stage* stages);
    // The last stage (half = n / 2) of a sequence whose upper half is known
    // to hold +0: reads work[0, n/2) only, writes dst[0, n).
    void (*line_last_zero_upper)(const float* work, float* dst, std::uint32_t n, const Stage& last);
    // All stages, in place, of n adjacent rows of width samples each, already
    // in bit-reversed row order, transformed along the rows (every sample of
    // a row shares its row's twiddle).
    void (*rows)(float* x, std::uint32_t n, std::uint32_t width, const Stage* stages);
    // The last stage of n such rows whose upper half is known to hold +0:
    // reads rows [0, n/2) only, writes all n.
    void (*rows_last_zero_upper)(float* x, std::uint32_t n, std::uint32_t width, const Stage& last);
};

extern const Kernels kScalar;
extern const Kernels kSse2; // x86-64 only
extern const Kernels kAvx2; // x86-64 only; callers check the processor first

} // namespace fft_kernels
