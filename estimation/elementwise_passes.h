#pragma once

// Element-wise passes of the oversampling and the correlation over count
// consecutive complex samples. Each has the plain loop and a vector form with
// the same operations on the same operands per sample (so the same bits);
// the vector form runs unless the transform path in use (fft_path) is the
// scalar one, so forcing that path also runs these loops plainly.

#include "numeric/fcomplex.h"

#include <cstddef>

// v = v f: the complex product in double precision, each part rounded to float.
void multiply_by_filter(fcomplex* v, const fcomplex* f, std::size_t count);

// out = (re^2 + im^2 of in, +0): the intensity in double rounded to float, and
// clip (rounded to float) instead when it exceeds clip.
void clipped_intensities(const fcomplex* in, fcomplex* out, std::size_t count, double clip);

// a and b scaled by s (each part in double, rounded to float), then
// x = b conj(a) in float: (b.im a.im + b.re a.re, b.im a.re - a.im b.re).
void scaled_cross_spectrum(fcomplex* a, fcomplex* b, fcomplex* x, std::size_t count, double s);

// x = (|x.re|, +0).
void magnitudes(fcomplex* x, std::size_t count);
