#pragma once

#include "numeric/fcomplex.h"
#include "params/sample_format.h"

#include <complex>
#include <cstdio>
#include <string>
#include <vector>

// Reads a whole raw SLC image (no header, line-major) as the module reads its
// samples; empty if the file cannot be opened or holds fewer than
// width * lines samples.
std::vector<fcomplex> read_slc(const std::string& path, int width, int lines, SampleFormat format);

namespace slcsim {

// Writes raw SLC lines of one format. SCOMPLEX parts are rounded to the
// nearest count of 0.001 and clipped to the 16-bit range; the clipped parts
// are counted.
class SlcWriter {
public:
    SlcWriter(const std::string& path, SampleFormat format);
    ~SlcWriter();
    SlcWriter(const SlcWriter&) = delete;
    SlcWriter& operator=(const SlcWriter&) = delete;

    bool is_open() const { return file_ != nullptr; }
    bool write_line(const std::complex<double>* samples, int count);
    // Flushes and closes; false if any write failed.
    bool close();
    long clipped() const { return clipped_; }

private:
    std::FILE* file_;
    SampleFormat format_;
    std::vector<unsigned char> bytes_;
    bool failed_ = false;
    long clipped_ = 0;
};

} // namespace slcsim
