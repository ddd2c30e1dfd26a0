#pragma once

// Internal to elementwise_passes.cpp: the AVX2 forms of its passes, for processors
// that have AVX2 only. Each does the leading samples it has whole vectors for
// and returns how many; the caller finishes the rest.

#include "numeric/fcomplex.h"

#include <cstddef>

std::size_t multiply_by_filter_avx2(fcomplex* v, const fcomplex* f, std::size_t count);
std::size_t clipped_intensities_avx2(const fcomplex* in, fcomplex* out, std::size_t count,
                                     double clip);
std::size_t scaled_cross_spectrum_avx2(fcomplex* a, fcomplex* b, fcomplex* x, std::size_t count,
                                       double s);
