#pragma once

#include "resampling/doppler_model.h"

#include <complex>
#include <cstdint>
#include <vector>

// Where the slave's lines come from: a file or an array.
class SlaveLineSource {
public:
    virtual ~SlaveLineSource() = default;
    virtual int width() const = 0;
    virtual int lines() const = 0;
    // Reads lines [first, first + count) into count * width() samples.
    virtual void read(int first, int count, std::complex<float>* out) = 0;
};

// The slave lines a block of output lines reads, held demodulated in
// azimuth by the Doppler model's phase (for a constant centroid f in cycles
// per line, line l times exp(-i 2 pi f l)), which brings the azimuth
// spectrum to base band where the low-pass kernel passes it. Moving on to the next block keeps the
// lines the two share and reads only the new ones.
class SlaveWindow {
public:
    SlaveWindow(SlaveLineSource& source, const DopplerModel& doppler);
    // Holds at least the slave lines [first, end) (clipped to the image) afterwards.
    void cover(int first, int end);
    int first() const { return first_; }
    int end() const { return first_ + count_; }
    // Slave samples read so far that are not finite (no-data): the kernel
    // carries each into the output samples whose footprint holds it.
    std::int64_t no_data() const { return no_data_; }
    const std::complex<float>* line(int l) const {
        return &data_[static_cast<std::size_t>(l - first_) * static_cast<std::size_t>(width_)];
    }

private:
    SlaveLineSource& source_;
    DopplerModel doppler_;
    int width_;
    int first_ = 0;
    int count_ = 0;
    std::int64_t no_data_ = 0;
    std::vector<std::complex<float>> data_;
};
