#pragma once

#include "numeric/fcomplex.h"
#include "params/sample_format.h"

#include <cstdint>
#include <cstdio>
#include <string>

// Sample k of a raw line as the stage uses it: FCOMPLEX as stored, SCOMPLEX
// each part times 0.001 in double precision, rounded to single precision.
fcomplex raw_sample(const unsigned char* raw, SampleFormat format, int k);

// Reads lines of one raw SLC file (no file header, no line headers). Byte
// positions are 64-bit: full scenes are far larger than 2 GiB.
class SlcLineReader {
public:
    // warning: printed on standard output when a read meets the end of file.
    SlcLineReader(std::FILE* file, int width, SampleFormat format, unsigned char* buffer,
                  const char* warning)
        : file_(file), width_(width), format_(format), buffer_(buffer), warning_(warning) {}

    bool seek_line(std::int64_t line);

    // Reads the next line into the raw buffer. A read that meets the end of
    // the file prints the warning and zero-fills the rest of the line (the
    // whole line when whole_line_at_end), so no stale bytes of an earlier
    // line are ever measured.
    void read_line(bool whole_line_at_end = false);

    // Reads the next count lines and converts them into count * width
    // complex samples, line after line from destination on.
    void read_lines_into(fcomplex* destination, int count);

    const unsigned char* buffer() const { return buffer_; }

    // From now on the warnings are appended to sink instead of printed (a
    // reader running ahead of the output); nullptr prints them again.
    void hold_warnings_in(std::string* sink) { heldWarnings_ = sink; }

private:
    void read_bytes_into(unsigned char* target, int count, bool whole_line_at_end);

    std::FILE* file_;
    int width_;
    SampleFormat format_;
    unsigned char* buffer_;
    const char* warning_;
    std::string* heldWarnings_ = nullptr;
};

// Average intensity of an image over every 32nd line (from line 16) and every
// 8th sample (from sample 4), skipping exact zeros; the stage clips each
// image's intensities at five times this. False when no sample qualifies.
bool average_intensity(SlcLineReader& reader, SampleFormat format, int width, int lines,
                       double* average);
