#pragma once

#include "numeric/fcomplex.h"

#include <cstddef>
#include <cstring>

// Oversampling of complex patches by zero insertion and separable Kaiser
// windowed low-pass filtering in the 2-D frequency domain.
// mode 1: designs and keeps the filter for nx, ny, ovr (in and out untouched).
// other modes: oversamples in (ny lines of nx) into out (ovr*ny lines of
// ovr*nx, one contiguous block) with the kept filter.
void interp_patch(fcomplex** in, fcomplex** out, int nx, int ny, int ovr, int mode);

// Releases the kept filter (also done when the library is unloaded).
void release_interp_filter();

// Band-pass FIR filter of nps taps (Kaiser window, beta) into filt[0..nfft-1]
// in circular order.
void bp_filter(double bw, double wc, int nps, int nfft, double beta, fcomplex* filt);

// Modified Bessel function of the first kind, order 0.
double bessel_i0(double x);

inline void zero_1d(void* buf, std::size_t n, std::size_t size) {
    std::memset(buf, 0, n * size);
}

template <class T>
void zero_2d(T** lines, std::size_t ncols, std::size_t nlines, std::size_t size = sizeof(T)) {
    for (std::size_t i = 0; i < nlines; i++)
        std::memset(static_cast<void*>(lines[i]), 0, ncols * size);
}
