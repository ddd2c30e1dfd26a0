#include "resampling/slc_raster.h"

#include "params/sample_bytes.h"
#include "resampling/resample_error.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <sys/stat.h>

namespace {

std::int16_t to_counts(float value, std::int64_t* saturated) {
    const double counts = std::round(static_cast<double>(value) * 1000.0);
    if (counts >= -32768.0 && counts <= 32767.0)
        return static_cast<std::int16_t>(counts);
    ++*saturated;
    return counts < 0.0 ? INT16_MIN : INT16_MAX; // a NaN lands here too
}

} // namespace

SlcFileSource::SlcFileSource(const std::string& path, int width, int lines, SampleFormat format)
    : path_(path), width_(width), lines_(lines), format_(format) {
    if (width <= 0 || lines <= 0)
        throw ResampleError("image parameter file of " + path + " gives a raster of " +
                            std::to_string(width) + " x " + std::to_string(lines) + " samples");
    file_ = std::fopen(path.c_str(), "rb");
    struct stat st;
    if (file_ == nullptr || ::fstat(::fileno(file_), &st) != 0 || S_ISDIR(st.st_mode))
        throw ResampleError("cannot read " + path + (file_ ? ": a directory" : ": ") +
                            (file_ ? "" : std::strerror(errno)));
    const std::int64_t needed = static_cast<std::int64_t>(width) * lines * bytes_per_sample(format);
    if (S_ISREG(st.st_mode) && st.st_size < needed)
        throw ResampleError(path + " is short: " + std::to_string(st.st_size) + " bytes, " +
                            std::to_string(width) + " x " + std::to_string(lines) + " " +
                            sample_format_name(format) + " samples need " + std::to_string(needed));
}

SlcFileSource::~SlcFileSource() {
    if (file_ != nullptr)
        std::fclose(file_);
}

void SlcFileSource::read(int first, int count, std::complex<float>* out) {
    const std::size_t sample_bytes = static_cast<std::size_t>(bytes_per_sample(format_));
    const std::size_t n = static_cast<std::size_t>(width_) * static_cast<std::size_t>(count);
    bytes_.resize(n * sample_bytes);
    const off_t at = static_cast<off_t>(first) * width_ * static_cast<off_t>(sample_bytes);
    if (::fseeko(file_, at, SEEK_SET) != 0 ||
        std::fread(bytes_.data(), 1, bytes_.size(), file_) != bytes_.size())
        throw ResampleError("cannot read lines " + std::to_string(first) + " to " +
                            std::to_string(first + count - 1) + " of " + path_);
    for (std::size_t i = 0; i < n; i++) {
        const unsigned char* in = &bytes_[i * sample_bytes];
        if (format_ == SampleFormat::scomplex)
            out[i] = {static_cast<float>(get_le16(in) * 0.001),
                      static_cast<float>(get_le16(in + 2) * 0.001)};
        else
            out[i] = {get_le32(in), get_le32(in + 4)};
    }
}

void SlcLineWriter::write_line(const std::complex<float>* samples, int count) {
    const std::size_t sample_bytes = static_cast<std::size_t>(bytes_per_sample(format_));
    bytes_.resize(static_cast<std::size_t>(count) * sample_bytes);
    for (int i = 0; i < count; i++) {
        unsigned char* out = &bytes_[static_cast<std::size_t>(i) * sample_bytes];
        if (format_ == SampleFormat::scomplex) {
            put_le16(out, to_counts(samples[i].real(), &saturated_));
            put_le16(out + 2, to_counts(samples[i].imag(), &saturated_));
        } else {
            put_le32(out, samples[i].real());
            put_le32(out + 4, samples[i].imag());
        }
    }
    output_.write(bytes_.data(), bytes_.size());
}
