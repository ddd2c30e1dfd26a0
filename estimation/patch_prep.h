#pragma once

#include "numeric/fcomplex.h"

// Linear phase ramp of a patch: phase increment per sample along a line
// (range) and per line (azimuth).
void phase_slope(fcomplex** patch, int x0, int y0, int nx, int ny, double* rangeSlope,
                 double* azimuthSlope);

// Multiplies sample (r, k), r >= 1 and k >= 1, by exp(i (r azimuthStep + k rangeStep)).
void deramp_patch(fcomplex** patch, int nx, int ny, double rangeStep, double azimuthStep);

// Correlation surface of the clipped intensities of two oversampled patches
// (2H lines of 2W samples each) into X; I1 and I2 are scratch.
void intensity_xcorr(fcomplex** O1, fcomplex** O2, fcomplex** I1, fcomplex** I2, fcomplex** X,
                     int W, int H, double clip1, double clip2);
