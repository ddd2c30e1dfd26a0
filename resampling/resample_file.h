#pragma once

#include "params/output_check.h"
#include "resampling/resample_error.h"

#include <cstdint>
#include <string>
#include <vector>

// How the slave's Doppler centroid is chosen.
struct DopplerChoice {
    enum class Mode { automatic, given, off } mode = Mode::automatic;
    double value = 0.0; // cycles per line, for Mode::given
};

struct ResampleFileRequest {
    std::string master;     // raw SLC, XML beside it: the output's geometry
    std::string slave;      // raw SLC, XML beside it: the samples and their format
    std::string fitted_off; // offset parameter file with the fitted polynomials
    std::string out_slc;    // the resampled slave; XML and "<out_slc>.mask" beside it
    DopplerChoice doppler;
    int threads = 1; // resampling the lines of each block
    // Files the same call goes on to write (the interferogram's): checked
    // against the inputs and the resampler's outputs before anything is
    // read, and their bytes counted in the free-space check.
    std::vector<NamedPath> also_written;
    long double also_written_bytes = 0;
};

struct ResampleFileResult {
    int lines = 0, samples = 0;
    std::string format;            // "FCOMPLEX" or "SCOMPLEX", the slave's
    double doppler_centroid = 0.0; // cycles per line
    std::string doppler_source;    // "xml", "estimated", "given" or "off"
    std::int64_t masked = 0, saturated = 0;
    std::string output, xml, mask;
    std::string vrt, mask_vrt;         // GDAL's views of output and mask
    std::vector<std::string> warnings; // say, most of the output masked
};

// Resamples the slave onto the master's grid through the fitted offsets and
// writes the output in the slave's sample format, an XML describing the
// master's geometry (in that format) and a mask file (one byte per sample, 1
// where the kernel left the slave), a GDAL VRT of each ("<file>.vrt"; the
// output's takes the mask as its mask band), each through a temporary file renamed
// when all are complete. The centroid, automatically: the slave XML's
// dopplerCentroidCoefficients where any is non-zero and its PRF is known
// (the constant term, in Hz, over the PRF; the range terms are not used),
// else estimated from the slave's samples. Before anything is read, every
// output is checked not to be an input, both images to hold what their XML
// files claim and the outputs to fit their file system. FileError, one line
// naming the file, for unreadable, short or mismatched inputs; nothing is
// left behind. An output that would be masked entirely is a failure; one
// masked over half is written with a warning. Cancelled once progress (may be null) was cancelled
// (asked before each block of lines).
ResampleFileResult resample_file(const ResampleFileRequest& request, Progress* progress);
