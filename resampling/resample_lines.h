#pragma once

#include "resampling/doppler_model.h"
#include "resampling/offset_model.h"
#include "resampling/resample_error.h"
#include "resampling/slave_window.h"

#include <complex>
#include <cstdint>
#include <string>

// Receives the resampled lines in order.
class ResampledLineSink {
public:
    virtual ~ResampledLineSink() = default;
    // width samples and their mask (1 = the kernel left the slave, sample 0).
    virtual void write_line(int y, const std::complex<float>* samples,
                            const unsigned char* mask) = 0;
};

// The slave resampled onto a master grid of master_width x master_lines
// through the offsets, in blocks of output lines: only the slave lines a
// block reads are held (peak memory independent of the image's length).
// doppler: the slave's Doppler centroid (see doppler_choice.h).
// threads: how many threads resample the lines of a block (a team started
// once for the call, the calling thread among them); the output is the same
// for any number; std::invalid_argument outside thread_count_problem's
// range (numeric/parallel_loop.h). progress (may be null) is asked between
// blocks whether it was cancelled: Cancelled then. Returns the number of
// masked samples; *no_data (when given) counts the slave samples read that
// are not finite.
long resample_lines(SlaveLineSource& slave, const OffsetModel& offsets, int master_width,
                    int master_lines, const DopplerModel& doppler, ResampledLineSink& sink,
                    Progress* progress, int threads = 1, std::int64_t* no_data = nullptr);

// A centroid the resampler can follow is finite and within (-0.5, 0.5)
// cycles per line (beyond, it aliases); true when doppler is one.
bool doppler_in_range(double doppler);

// std::invalid_argument saying the range when a centroid given by a caller
// is not in it.
void check_given_doppler(double doppler);

// How far an XML centroid may lie from the data's estimate (cycles per
// line) before the data's is taken: ten times the largest error of the
// estimate measured on simulated 256 x 256 pairs (centroids -0.2 to 0.3,
// coherence 0.4 and 0.9, three seeds: 0.005), where a centroid error of
// 0.05 still costs well under a hundredth of the coherence.
constexpr double kDopplerDisagreement = 0.05;

// The centroid to resample with when the XML gives one (xml) and the data
// give another (data): the XML's while they agree within
// kDopplerDisagreement (on the circle of cycles), else the data's, with
// *warning saying so.
double reconcile_doppler(double xml, double data, std::string* warning);

// The Doppler centroid of an image in cycles per line, from the phase of
// its lag-one azimuth correlation sum s[l + 1] conj(s[l]) over up to 128
// pairs of lines spread over the image: a spectrum centred on f gives
// exp(i 2 pi f) per line; products that are not finite (no-data samples)
// are left out. 0 for an image of fewer than two lines or no signal.
double estimate_doppler_centroid(SlaveLineSource& slave);
