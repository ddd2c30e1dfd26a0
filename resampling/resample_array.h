#pragma once

#include "resampling/doppler_choice.h"
#include "resampling/offset_model.h"
#include "resampling/resample_error.h"

#include <complex>

// An in-memory slave (slave_lines x slave_width, line after line) resampled
// onto a master grid of out_lines x out_width: out and mask (1 = the kernel
// left the slave) hold out_lines * out_width each. doppler: the slave's
// centroid (choose_array_doppler). progress, when given, hears of every block of lines (and
// may stop the call by throwing). Returns the number of masked samples.
long resample_array(const std::complex<float>* slave, int slave_lines, int slave_width,
                    const OffsetModel& offsets, int out_lines, int out_width,
                    const DopplerModel& doppler, std::complex<float>* out, unsigned char* mask,
                    int threads = 1, Progress* progress = nullptr);

// The Doppler centroid of an in-memory image (see estimate_doppler_centroid).
double estimate_array_doppler_centroid(const std::complex<float>* image, int lines, int width);

// The centroid of an in-memory slave, chosen as for a file (xml may be null).
ChosenDoppler choose_array_doppler(const std::complex<float>* image, int lines, int width,
                                   const DopplerChoice& choice, const XmlDoppler* xml);
