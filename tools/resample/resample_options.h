#pragma once

#include "resampling/resample_file.h"

#include <string>

struct ResampleOptions {
    ResampleFileRequest request;
    int looks_az = 5, looks_rg = 5;
    std::string interferogram_dir; // empty: no interferogram
    bool geotiff = false;
    bool quiet = false;
    bool help = false;
};

// MASTER SLAVE FITTED_OFF OUT_SLC [--looks AZ RG] [--interferogram DIR]
// [--geotiff] [--doppler auto|off|VALUE] [--quiet] [--help]. Returns the
// error text, empty when the arguments fit.
std::string parse_resample_options(int argc, const char* const* argv, ResampleOptions* o);

const char* resample_usage();
