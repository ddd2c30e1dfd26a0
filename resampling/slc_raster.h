#pragma once

#include "params/sample_format.h"
#include "resampling/slave_window.h"

#include <complex>
#include <string>
#include <vector>

// A raw SLC file read by lines, as the module reads samples: FCOMPLEX as
// stored, SCOMPLEX counts times 0.001. Opening checks the file holds the
// raster its parameter file describes; every failure is a FileError
// naming the file. Each read is one pread of the whole line range (FCOMPLEX
// on a little-endian machine straight into the samples); the file is
// announced as read in order, so the system reads ahead.
class SlcFileSource : public SlaveLineSource {
public:
    SlcFileSource(const std::string& path, int width, int lines, SampleFormat format);
    ~SlcFileSource() override;
    SlcFileSource(const SlcFileSource&) = delete;
    SlcFileSource& operator=(const SlcFileSource&) = delete;

    int width() const override { return width_; }
    int lines() const override { return lines_; }
    SampleFormat format() const { return format_; }
    void read(int first, int count, std::complex<float>* out) override;

private:
    std::string path_;
    int width_, lines_;
    SampleFormat format_;
    int fd_ = -1;
    std::vector<unsigned char> bytes_;
};
