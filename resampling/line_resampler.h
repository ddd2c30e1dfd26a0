#pragma once

#include "resampling/offset_model.h"
#include "resampling/sinc_kernel.h"
#include "resampling/slave_window.h"

#include <complex>
#include <vector>

// One master line of the slave resampled onto the master grid: output sample
// x of line y is the slave at (x + range_offset(x, y), y + azimuth_offset(x, y)).
// Two separable passes. In azimuth, each slave column c is interpolated to
// the line where the output line's curve crosses it (y + azimuth_offset at
// the master x that maps onto c), then remodulated by the Doppler phase of
// that position; in range, the values along the curve are interpolated at
// each output sample's slave range position. The curve's slope is the
// azimuth offset's range derivative (tiny), so the values along it stay
// band-limited, and the range pass lands exactly on each sample's position.
class LineResampler {
public:
    LineResampler(const OffsetModel& offsets, int master_width, const SincKernel& kernel,
                  const DopplerModel& doppler);

    // The slave lines [*first, *end) that master lines [y_begin, y_end) read.
    void lines_needed(int y_begin, int y_end, int* first, int* end) const;

    // Fills master_width samples of out and of mask (1 where the kernel
    // leaves the slave; the sample is then 0). The window must hold the lines
    // lines_needed names. Returns the number of masked samples.
    long resample(int y, const SlaveWindow& slave, int slave_width, int slave_lines,
                  std::complex<float>* out, unsigned char* mask);

private:
    void slave_positions(int y);
    void interpolate_columns(const SlaveWindow& slave, int slave_width, int slave_lines);

    OffsetModel offsets_;
    int width_;
    WeightTable table_;
    int taps_;
    int first_tap_;
    DopplerModel doppler_;
    std::vector<double> xs_, ys_; // slave position of master x - 1 .. width
    FieldLineScratch field_scratch_;
    int column_begin_ = 0; // slave columns of the azimuth pass
    int column_end_ = 0;
    std::vector<std::complex<float>> along_curve_;
    std::vector<int> outside_before_; // columns left out of the azimuth pass before each
};
