#pragma once

#include "numeric/fcomplex.h"

// mode 1: allocates the fit work arrays for an nw x nw neighbourhood (nw odd)
// and returns 0. Other modes: sub-sample peak of the surface cc (ny lines of nx)
// by a quadratic fit; writes the signed shifts and returns the SNR (0 when no
// peak could be fitted, the shifts then possibly untouched).
double corr_peak(fcomplex** cc, int nx, int ny, int nw, double* xoff, double* yoff, int mode);

// Releases the kept fit work arrays (also done when the library is unloaded).
void release_corr_peak();

// afunc[1..5] = 1, x, y, x^2, y^2.
void quad_basis_2d(double x, double y, double* afunc);
