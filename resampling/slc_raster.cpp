#include "resampling/slc_raster.h"

#include "params/file_error.h"
#include "params/sample_bytes.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <sys/stat.h>

SlcFileSource::SlcFileSource(const std::string& path, int width, int lines, SampleFormat format)
    : path_(path), width_(width), lines_(lines), format_(format) {
    if (width <= 0 || lines <= 0)
        throw FileError(path, "its image parameter file gives a raster of " +
                                  std::to_string(width) + " x " + std::to_string(lines) +
                                  " samples");
    file_ = std::fopen(path.c_str(), "rb");
    struct stat st;
    if (file_ == nullptr || ::fstat(::fileno(file_), &st) != 0 || S_ISDIR(st.st_mode))
        throw FileError(path, std::string("cannot be read: ") +
                                  (file_ ? "a directory" : std::strerror(errno)));
    const std::int64_t needed = static_cast<std::int64_t>(width) * lines * bytes_per_sample(format);
    if (S_ISREG(st.st_mode) && st.st_size < needed)
        throw FileError(path, "is short: " + std::to_string(st.st_size) + " bytes, " +
                                  std::to_string(width) + " x " + std::to_string(lines) + " " +
                                  sample_format_name(format) + " samples need " +
                                  std::to_string(needed));
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
        throw FileError(path_, "cannot read lines " + std::to_string(first) + " to " +
                                   std::to_string(first + count - 1));
    decode_samples(bytes_.data(), format_, n, out);
}

void SlcLineWriter::write_line(const std::complex<float>* samples, int count) {
    const std::size_t sample_bytes = static_cast<std::size_t>(bytes_per_sample(format_));
    bytes_.resize(static_cast<std::size_t>(count) * sample_bytes);
    encode_samples(samples, format_, static_cast<std::size_t>(count), bytes_.data(), &saturated_);
    output_.write(bytes_.data(), bytes_.size());
}
