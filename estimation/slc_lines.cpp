#include "estimation/slc_lines.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/types.h>
#include <unistd.h>

fcomplex raw_sample(const unsigned char* raw, SampleFormat format, int k) {
    if (format == SampleFormat::scomplex) {
        std::int16_t parts[2];
        std::memcpy(parts, raw + static_cast<std::size_t>(k) * 4, sizeof parts);
        return {static_cast<float>(parts[0] * 0.001), static_cast<float>(parts[1] * 0.001)};
    }
    fcomplex value;
    std::memcpy(&value, raw + static_cast<std::size_t>(k) * 8, sizeof value);
    return value;
}

bool SlcLineReader::seek_line(std::int64_t line) {
    const std::int64_t position = line * width_ * bytes_per_sample(format_);
    return ::fseeko(file_, static_cast<off_t>(position), SEEK_SET) == 0;
}

namespace {

// Of count lines of lineBytes bytes read into target, of which got bytes
// arrived: each line left short is zero-filled (the one the file ends in
// keeps its bytes unless keepPartial is false). Returns how many were short.
int settle_short_lines(unsigned char* target, int count, std::size_t lineBytes, std::size_t got,
                       bool keepPartial) {
    int shortLines = 0;
    for (int r = 0; r < count; r++, got -= std::min(got, lineBytes))
        if (got < lineBytes) {
            const std::size_t keep = keepPartial ? got : 0;
            std::memset(target + r * lineBytes + keep, 0, lineBytes - keep);
            shortLines++;
        }
    return shortLines;
}

// Bytes read from offset on until bytes, the end of the file or an error.
std::size_t read_at(int fd, unsigned char* target, std::size_t bytes, std::int64_t offset) {
    std::size_t got = 0;
    while (got < bytes) {
        const ssize_t n = ::pread(fd, target + got, bytes - got, static_cast<off_t>(offset + got));
        if (n > 0)
            got += static_cast<std::size_t>(n);
        else if (n < 0 && errno == EINTR)
            continue;
        else
            break;
    }
    return got;
}

} // namespace

std::size_t SlcLineReader::line_bytes() const {
    return static_cast<std::size_t>(width_) * bytes_per_sample(format_);
}

void SlcLineReader::read_line(bool whole_line_at_end) {
    // A line the read leaves short warns and is zero-filled; the one the
    // file ends in keeps its bytes unless the whole line is asked for.
    const std::size_t got = std::fread(buffer_, 1, line_bytes(), file_);
    if (settle_short_lines(buffer_, 1, line_bytes(), got, !whole_line_at_end) > 0)
        std::printf("%s", warning_);
}

void SlcLineReader::read_lines_at(std::int64_t first, int count, fcomplex* destination,
                                  std::string& warnings, unsigned char* raw) const {
    const int fd = ::fileno(file_);
    const std::size_t bytes = line_bytes();
    const std::int64_t start = first * static_cast<std::int64_t>(bytes);
    int shortLines = 0;
    // FCOMPLEX samples are stored as the stage holds them (two little-endian
    // floats): the lines go straight into place in one read.
    if (format_ == SampleFormat::fcomplex) {
        auto* target = reinterpret_cast<unsigned char*>(destination);
        const std::size_t got = read_at(fd, target, bytes * count, start);
        shortLines = settle_short_lines(target, count, bytes, got, true);
    } else {
        unsigned char* line = raw != nullptr ? raw : buffer_;
        for (int r = 0; r < count; r++) {
            const std::size_t got =
                read_at(fd, line, bytes, start + static_cast<std::int64_t>(r) * bytes);
            shortLines += settle_short_lines(line, 1, bytes, got, true);
            fcomplex* samples = destination + static_cast<std::size_t>(r) * width_;
            for (int k = 0; k < width_; k++)
                samples[k] = raw_sample(line, format_, k);
        }
    }
    for (; shortLines > 0; shortLines--)
        warnings += warning_;
}

bool average_intensity(SlcLineReader& reader, SampleFormat format, int width, int lines,
                       double* average) {
    if (lines - 16 <= 16)
        return false;
    double sum = 0.0;
    int count = 0;
    for (int line = 16; line < lines - 16; line += 32) {
        reader.seek_line(line);
        reader.read_line(true);
        for (int s = 4; s < width - 4; s += 8) {
            const fcomplex v = raw_sample(reader.buffer(), format, s);
            const double re = v.re;
            const double im = v.im;
            if (re == 0.0 && im == 0.0)
                continue;
            sum += re * re + im * im;
            count++;
        }
    }
    if (count == 0)
        return false;
    *average = sum / count;
    return true;
}
