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

    // Reads count lines from line first on and converts them into
    // count * width complex samples, line after line from destination on.
    // The read goes by position, not through the stream, so any number of
    // threads may read one file at once, each with a raw line of its own
    // (raw, at least width samples; nullptr: the reader's buffer, for one
    // thread only). Short lines are handled as by read_line, their warnings
    // appended to warnings instead of printed.
    void read_lines_at(std::int64_t first, int count, fcomplex* destination, std::string& warnings,
                       unsigned char* raw = nullptr) const;

    const unsigned char* buffer() const { return buffer_; }

private:
    std::size_t line_bytes() const;

    std::FILE* file_;
    int width_;
    SampleFormat format_;
    unsigned char* buffer_;
    const char* warning_;
};

// Average intensity of an image over every 32nd line (from line 16) and every
// 8th sample (from sample 4), skipping exact zeros; the stage clips each
// image's intensities at five times this. False when no sample qualifies.
bool average_intensity(SlcLineReader& reader, SampleFormat format, int width, int lines,
                       double* average);
