#pragma once

#include "numeric/alloc.h"
#include "numeric/fcomplex.h"

// mode 1: allocates the fit work arrays for an nw x nw neighbourhood (nw odd)
// and returns 0. Other modes: sub-sample peak of the surface cc (ny lines of nx)
// by a quadratic fit; writes the signed shifts and returns the SNR (0 when no
// peak could be fitted, the shifts then possibly untouched).
double corr_peak(fcomplex** cc, int nx, int ny, int nw, double* xoff, double* yoff, int mode);

// Releases the kept fit work arrays (also done when the library is unloaded).
void release_corr_peak();

// The work arrays of the peak fit for one nw x nw neighbourhood (nw odd),
// unit-offset, and the search that fills them: corr_peak's module-level
// state, or one of its own for each thread that searches peaks.
class PeakFit {
public:
    explicit PeakFit(int nw);

    int neighbourhood() const { return nw_; }

    // corr_peak's search (mode 0) with these arrays.
    double search(fcomplex** cc, int nx, int ny, double* xoff, double* yoff);

private:
    int nw_;
    Block1D<double> x_, y_, z_, sig_;
    Block1D<double> a_;
    Block1D<int> mask_;
    Array2D<double> covar_;
    double chisq_ = 0.0;
};

// afunc[1..5] = 1, x, y, x^2, y^2.
void quad_basis_2d(double x, double y, double* afunc);
