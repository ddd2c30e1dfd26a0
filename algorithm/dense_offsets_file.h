#pragma once

#include "estimation/offset_tracking.h"

#include <string>

// Where the tracker's gross offset comes from.
struct GrossChoice {
    enum class Kind {
        none,        // zero
        constant,    // range and azimuth
        offset_file, // an offset parameter file's polynomials (its coarse offsets
                     // when the polynomials are all zero)
        raster       // an offset field GDAL reads (read_offset_field_geotiff)
    } kind = Kind::none;
    double range = 0.0, azimuth = 0.0;
    std::string path;
};

// Dense offset tracking of two raw SLC files (XML beside each).
struct DenseOffsetsFileRequest {
    std::string master, slave;
    std::string out; // the GeoTIFF to write; empty: none
    GrossChoice gross;
    TrackingRequest tracking; // its gross is set from the choice
};

// Checks the output against the inputs before anything is read, tracks and
// writes the GeoTIFF (nothing is left under its name on failure). FileError
// naming the file at fault; std::invalid_argument for a bad setting;
// Cancelled.
DenseOffsets dense_offsets_file(const DenseOffsetsFileRequest& request, Progress* progress);
