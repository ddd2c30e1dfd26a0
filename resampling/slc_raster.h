#pragma once

#include "params/pending_output.h"
#include "params/sample_format.h"
#include "resampling/slave_window.h"

#include <complex>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// A raw SLC file read by lines, as the module reads samples: FCOMPLEX as
// stored, SCOMPLEX counts times 0.001. Opening checks the file holds the
// raster its parameter file describes; every failure is a FileError
// naming the file.
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
    std::FILE* file_ = nullptr;
    std::vector<unsigned char> bytes_;
};

// Lines of complex samples into a pending raw file of one format. SCOMPLEX
// parts are rounded to the nearest count of 0.001 and clamped to the 16-bit
// range (never wrapped); the clamped parts are counted.
class SlcLineWriter {
public:
    SlcLineWriter(PendingOutput& output, SampleFormat format) : output_(output), format_(format) {}
    void write_line(const std::complex<float>* samples, int count);
    std::int64_t saturated() const { return saturated_; }

private:
    PendingOutput& output_;
    SampleFormat format_;
    std::vector<unsigned char> bytes_;
    std::int64_t saturated_ = 0;
};
