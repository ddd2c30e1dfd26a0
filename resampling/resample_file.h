#pragma once

#include "params/offset_field.h"
#include "params/output_check.h"
#include "resampling/doppler_choice.h"
#include "resampling/resample_error.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct ResampleFileRequest {
    std::string master;     // raw SLC, XML beside it: the output's geometry
    std::string slave;      // raw SLC, XML beside it: the samples and their format
    std::string fitted_off; // offset parameter file with the fitted polynomials; empty: none
    std::string out_slc;    // the resampled slave; XML and "<out_slc>.mask" beside it
    DopplerChoice doppler;
    int threads = 1; // resampling the lines of each block
    // Files the same call goes on to write (the interferogram's): checked
    // against the inputs and the resampler's outputs before anything is
    // read, and their bytes counted in the free-space check.
    std::vector<NamedPath> also_written{};
    long double also_written_bytes = 0;
    // An offset field added to the polynomials (the offsets alone without
    // fitted_off): read_field gives it, called once the outputs are checked
    // against the inputs; field_path names its file (empty for a field held
    // in memory), checked as an input and named in its errors.
    std::function<OffsetField()> read_field{};
    std::string field_path{};
};

struct ResampleFileResult {
    int lines = 0, samples = 0;
    std::string format;            // "FCOMPLEX" or "SCOMPLEX", the slave's
    double doppler_centroid = 0.0; // cycles per line, at the image's middle
    double doppler_lowest = 0.0;   // and its extent over the image
    double doppler_highest = 0.0;
    std::string doppler_source;      // "xml", "estimated", "given" or "off"
    std::string doppler_description; // the centroid used, as every entry point reports it
    std::int64_t masked = 0, saturated = 0;
    std::int64_t no_data = 0; // slave samples not finite: each spoils its kernel's footprint only
    std::string output, xml, mask;
    std::string vrt, mask_vrt;         // GDAL's views of output and mask
    std::vector<std::string> warnings; // say, most of the output masked
};

// Resamples the slave onto the master's grid through the fitted offsets
// (polynomials, field or both; std::invalid_argument for neither) and
// writes the output in the slave's sample format, an XML describing the
// master's geometry (in that format) and a mask file (one byte per sample, 1
// where the kernel left the slave), a GDAL VRT of each ("<file>.vrt"; the
// output's takes the mask as its mask band), each through a temporary file
// renamed when all are complete. The centroid, automatically, as
// choose_doppler_model chooses it from the slave XML and the slave's samples. Before anything is
// read, every output is checked not to be an input, both images to hold what their XML files claim
// and the outputs to fit their file system. FileError, one line naming the file, for unreadable,
// short or mismatched inputs; nothing is left behind. An output that would be masked entirely is a
// failure; one masked over half is written with a warning. Cancelled once progress (may be null)
// was cancelled (asked before each block of lines).
ResampleFileResult resample_file(const ResampleFileRequest& request, Progress* progress);
