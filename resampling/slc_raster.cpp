#include "resampling/slc_raster.h"

#include "params/file_error.h"
#include "params/sample_bytes.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool host_is_little_endian() {
    const std::uint16_t one = 1;
    unsigned char first;
    std::memcpy(&first, &one, 1);
    return first == 1;
}

} // namespace

SlcFileSource::SlcFileSource(const std::string& path, int width, int lines, SampleFormat format)
    : path_(path), width_(width), lines_(lines), format_(format) {
    if (width <= 0 || lines <= 0)
        throw FileError(path, "its image parameter file gives a raster of " +
                                  std::to_string(width) + " x " + std::to_string(lines) +
                                  " samples");
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd_ < 0 || ::fstat(fd_, &st) != 0 || S_ISDIR(st.st_mode)) {
        const std::string why = fd_ >= 0 ? "a directory" : std::strerror(errno);
        if (fd_ >= 0)
            ::close(fd_);
        throw FileError(path, "cannot be read: " + why);
    }
    try {
        if (S_ISREG(st.st_mode))
            check_image_length(path, st.st_size, width, lines, format);
    } catch (const FileError&) {
        ::close(fd_);
        throw;
    }
    (void)::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
}

SlcFileSource::~SlcFileSource() {
    ::close(fd_);
}

void SlcFileSource::read(int first, int count, std::complex<float>* out) {
    const std::size_t sample_bytes = static_cast<std::size_t>(bytes_per_sample(format_));
    const std::size_t n = static_cast<std::size_t>(width_) * static_cast<std::size_t>(count);
    // The stored bytes are the samples themselves: FCOMPLEX, little-endian.
    const bool as_stored = format_ == SampleFormat::fcomplex && host_is_little_endian();
    if (!as_stored)
        bytes_.resize(n * sample_bytes);
    unsigned char* to = as_stored ? reinterpret_cast<unsigned char*>(out) : bytes_.data();
    const std::size_t size = n * sample_bytes;
    const off_t at = static_cast<off_t>(first) * width_ * static_cast<off_t>(sample_bytes);
    for (std::size_t done = 0; done < size;) {
        const ssize_t got = ::pread(fd_, to + done, size - done, at + static_cast<off_t>(done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            throw FileError(path_, "cannot read lines " + std::to_string(first) + " to " +
                                       std::to_string(first + count - 1));
        done += static_cast<std::size_t>(got);
    }
    if (!as_stored)
        decode_samples(bytes_.data(), format_, n, out);
}
