#pragma once

#include "numeric/alloc.h"
#include "numeric/fcomplex.h"

#include <cstddef>
#include <cstring>
#include <memory>

// Oversampling of complex patches by zero insertion and separable Kaiser
// windowed low-pass filtering in the 2-D frequency domain.
// mode 1: designs and keeps the filter for nx, ny, ovr (in and out untouched).
// other modes: oversamples in (ny lines of nx) into out (ovr*ny lines of
// ovr*nx, one contiguous block) with the kept filter.
void interp_patch(fcomplex** in, fcomplex** out, int nx, int ny, int ovr, int mode);

// Releases the kept filter (also done when the library is unloaded).
void release_interp_filter();

// The filter spectrum of one patch size and factor: designed once, printing
// the design lines, then only read, so any number of threads can oversample
// with one filter at the same time.
class OversamplingFilter {
public:
    // announce: print the design lines (the module's runs do; a caller with
    // its own output, such as the dense tracker, may not).
    OversamplingFilter(int nx, int ny, int ovr, bool announce = true);

    int nx() const { return nx_; }
    int ny() const { return ny_; }
    int ovr() const { return ovr_; }

    // Oversamples in (ny lines of nx) into out (ovr*ny lines of ovr*nx, one
    // block); lines: room for ny pointers, scratch of the caller's.
    void oversample(fcomplex** in, fcomplex** out, const float** lines) const;

private:
    Array2D<fcomplex> spectrum_;
    int nx_, ny_, ovr_;
};

// The filter of the last set-up of interp_patch, nullptr before any.
std::shared_ptr<const OversamplingFilter> current_interp_filter();

// Band-pass FIR filter of nps taps (Kaiser window, beta) into filt[0..nfft-1]
// in circular order, printing its design when announce.
void bp_filter(double bw, double wc, int nps, int nfft, double beta, fcomplex* filt,
               bool announce = true);

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
