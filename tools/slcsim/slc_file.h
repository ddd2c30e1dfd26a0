#pragma once

#include "numeric/fcomplex.h"
#include "params/pending_output.h"
#include "params/sample_format.h"

#include <complex>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

// Reads a whole raw SLC image (no header, line-major) as the module reads its
// samples; empty if the file cannot be opened or holds fewer than
// width * lines samples.
std::vector<fcomplex> read_slc(const std::string& path, int width, int lines, SampleFormat format);

namespace slcsim {

// Writes raw SLC lines of one format, as a pending output: the file appears
// under its name only when close() succeeds. SCOMPLEX parts are rounded to
// the nearest count of 0.001 and clipped to the 16-bit range; the clipped
// parts are counted.
class SlcWriter {
public:
    SlcWriter(const std::string& path, SampleFormat format);

    bool is_open() const { return file_ != nullptr; }
    bool write_line(const std::complex<double>* samples, int count);
    // Commits the file; false if any write failed (nothing is left then).
    bool close();
    long clipped() const { return clipped_; }

private:
    std::unique_ptr<PendingOutput> file_;
    SampleFormat format_;
    std::vector<unsigned char> bytes_;
    bool failed_ = false;
    long clipped_ = 0;
};

} // namespace slcsim
