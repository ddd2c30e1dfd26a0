#include "estimation/slc_lines.h"

#include <algorithm>
#include <cstring>
#include <sys/types.h>

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

void SlcLineReader::read_bytes_into(unsigned char* target, int count, bool whole_line_at_end) {
    const std::size_t bytes = static_cast<std::size_t>(width_) * bytes_per_sample(format_);
    std::size_t got = std::fread(target, 1, bytes * count, file_);
    // Each line that the read leaves short warns and is zero-filled; the one
    // the file ends in keeps its bytes unless the whole line is asked for.
    for (int r = 0; r < count; r++, got -= std::min(got, bytes))
        if (got < bytes) {
            if (heldWarnings_ != nullptr)
                heldWarnings_->append(warning_);
            else
                std::printf("%s", warning_);
            const std::size_t keep = whole_line_at_end ? 0 : got;
            std::memset(target + r * bytes + keep, 0, bytes - keep);
        }
}

void SlcLineReader::read_line(bool whole_line_at_end) {
    read_bytes_into(buffer_, 1, whole_line_at_end);
}

void SlcLineReader::read_lines_into(fcomplex* destination, int count) {
    // FCOMPLEX samples are stored as the stage holds them (two little-endian
    // floats): the lines go straight into place in one read.
    if (format_ == SampleFormat::fcomplex) {
        read_bytes_into(reinterpret_cast<unsigned char*>(destination), count, false);
        return;
    }
    for (int r = 0; r < count; r++) {
        read_line();
        fcomplex* line = destination + static_cast<std::size_t>(r) * width_;
        for (int k = 0; k < width_; k++)
            line[k] = raw_sample(buffer_, format_, k);
    }
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
