#include "resampling/resample_array.h"

#include "resampling/resample_lines.h"

#include <algorithm>
#include <cstddef>

namespace {

class ArraySource : public SlaveLineSource {
public:
    ArraySource(const std::complex<float>* data, int lines, int width)
        : data_(data), lines_(lines), width_(width) {}
    int width() const override { return width_; }
    int lines() const override { return lines_; }
    void read(int first, int count, std::complex<float>* out) override {
        const std::size_t w = static_cast<std::size_t>(width_);
        std::copy(data_ + static_cast<std::size_t>(first) * w,
                  data_ + static_cast<std::size_t>(first + count) * w, out);
    }

private:
    const std::complex<float>* data_;
    int lines_, width_;
};

class ArraySink : public ResampledLineSink {
public:
    ArraySink(std::complex<float>* out, unsigned char* mask, int width)
        : out_(out), mask_(mask), width_(static_cast<std::size_t>(width)) {}
    void write_line(int y, const std::complex<float>* samples, const unsigned char* mask) override {
        std::copy(samples, samples + width_, out_ + static_cast<std::size_t>(y) * width_);
        std::copy(mask, mask + width_, mask_ + static_cast<std::size_t>(y) * width_);
    }

private:
    std::complex<float>* out_;
    unsigned char* mask_;
    std::size_t width_;
};

} // namespace

long resample_array(const std::complex<float>* slave, int slave_lines, int slave_width,
                    const OffsetModel& offsets, int out_lines, int out_width,
                    const DopplerModel& doppler, std::complex<float>* out, unsigned char* mask,
                    int threads, Progress* progress) {
    ArraySource source(slave, slave_lines, slave_width);
    ArraySink sink(out, mask, out_width);
    return resample_lines(source, offsets, out_width, out_lines, doppler, sink, progress, threads);
}

double estimate_array_doppler_centroid(const std::complex<float>* image, int lines, int width) {
    ArraySource source(image, lines, width);
    return estimate_doppler_centroid(source);
}

ChosenDoppler choose_array_doppler(const std::complex<float>* image, int lines, int width,
                                   const DopplerChoice& choice, const XmlDoppler* xml) {
    ArraySource source(image, lines, width);
    return choose_doppler_model(choice, xml, source);
}
