#pragma once

#include "params/output_check.h"
#include "resampling/raster_writer.h"
#include "resampling/resample_error.h"

#include <cstdint>
#include <string>
#include <vector>

struct InterferogramFileRequest {
    std::string master;    // raw SLC with its XML
    std::string resampled; // the slave resampled onto the master's grid, with its XML
    int looks_az = 5, looks_rg = 5;
    std::string out_dir; // receives "interferogram" and "coherence"
};

struct InterferogramFileResult {
    int lines = 0, samples = 0; // multi-looked
    int looks_az = 0, looks_rg = 0;
    double mean_coherence = 0.0, median_coherence = 0.0;
    std::int64_t no_data = 0;            // samples left out, not finite in either image
    std::vector<std::int64_t> histogram; // 20 bins of 0.05 over [0, 1]
    std::string interferogram, coherence;
};

// What interferogram_file writes in out_dir (either format's names), once
// it has checked out_dir is a directory (FileError naming it otherwise).
std::vector<NamedPath> interferogram_outputs(const std::string& out_dir);

// Bytes of both rasters of a width x lines image under the looks; FileError
// naming image when the looks are below 1 or leave no cell.
long double interferogram_bytes(const std::string& image, int width, int lines, int looks_az,
                                int looks_rg);

// Forms the multi-looked interferogram master x conj(resampled) and its
// coherence line block by line block, writes both through the factory's
// writers and summarises the coherence. Every output is checked against
// the inputs first; FileError naming the file for unreadable, short or
// mismatched inputs, Cancelled once progress (may be null) was cancelled
// (asked every 64 rows); nothing is left behind.
InterferogramFileResult interferogram_file(const InterferogramFileRequest& request,
                                           const RasterWriterFactory& writers, Progress* progress);
