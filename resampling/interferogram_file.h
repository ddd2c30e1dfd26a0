#pragma once

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
    std::vector<std::int64_t> histogram; // 20 bins of 0.05 over [0, 1]
    std::string interferogram, coherence;
};

// Forms the multi-looked interferogram master x conj(resampled) and its
// coherence line block by line block, writes both through the factory's
// writers and summarises the coherence. ResampleError naming the file for
// unreadable, short or mismatched inputs, Cancelled once progress (may be
// null) was cancelled (asked about every 64 rows); nothing is left behind.
InterferogramFileResult interferogram_file(const InterferogramFileRequest& request,
                                           const RasterWriterFactory& writers, Progress* progress);
