#pragma once

#include "band_limited_field.h"
#include "doppler_profile.h"
#include "offset_model.h"
#include "resampling/sinc_kernel.h"

#include <complex>
#include <string>
#include <vector>

namespace slcsim {

// Lines of the slave image: slave(u, v) = field(x, y) at the master position
// (x, y) of slave pixel (u, v). Interpolates in two separable passes: along
// each master column x to the curve y(x) that lands on slave line v, then
// along that curve in range. The curve's slope is the azimuth offset's range
// derivative (tiny), so the values along it stay band-limited and the second
// pass interpolates them as accurately as the first.
class SlaveResampler {
public:
    // doppler: the field is base band; each value at master line y is
    // modulated by the profile's phasor at y, as the master's lines are.
    SlaveResampler(const Field& field, const OffsetModel& model, const SincKernel& kernel,
                   int width, DopplerProfile doppler = {});
    // Fills width samples of slave line v. False with a message if a master
    // position cannot be solved or the kernel reaches outside the field.
    bool resample_line(int v, std::complex<double>* out, std::string* error);

private:
    bool interpolate_columns(int v, int column_begin, int column_end, std::string* error);

    const Field& field_;
    const OffsetModel& model_;
    const SincKernel& kernel_;
    int width_;
    DopplerProfile doppler_;
    std::vector<double> positions_; // master range position of each slave sample
    std::vector<std::complex<double>> along_curve_;
    std::vector<double> weights_;
};

// The master area [x_begin, x_end) x [y_begin, y_end) that the slave image
// of width x lines reads through the kernel, with a safety margin; found
// from the master positions of a coarse grid of slave pixels. False with a
// message if a position cannot be solved.
struct Extent {
    int x_begin, x_end, y_begin, y_end;
};
bool slave_footprint(const OffsetModel& model, int width, int lines, int taps, Extent* extent,
                     std::string* error);

// exp(i 2 pi f y), the phase of a spectrum centred on f cycles per line at line y.
std::complex<double> doppler_phasor(double f, double y);

// Taps for a field of the given spectral occupancy: the passband must reach
// occupancy/2 while the spectral images from 1 - occupancy/2 on are
// rejected, so the narrower that gap the longer the kernel. Far longer than
// the resampler's: the simulated slave must be exact to well below what a
// test of the resampler resolves.
int kernel_taps_for(double occupancy);

} // namespace slcsim
