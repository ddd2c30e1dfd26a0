#pragma once

#include "offset_field.h"

#include <string>
#include <vector>

namespace slcsim {

// Dense offsets on the master grid, in the offset raster file: the 8 bytes
// "FCOFFSET", width and lines as uint32 little-endian, then width x lines
// float32 little-endian range offsets (samples), line by line, then as many
// azimuth offsets (lines). numpy reads it as
// np.fromfile(path, "<f4", offset=16).reshape(2, lines, width).
struct OffsetRaster {
    int width = 0;
    int lines = 0;
    std::vector<float> range;   // lines x width
    std::vector<float> azimuth; // lines x width
};

// FileError naming path when it cannot be read, is not an offset raster, is
// not width x lines, is longer or shorter than its header says or holds an
// offset that is not finite.
OffsetRaster read_offset_raster(const std::string& path, int width, int lines);

// Writes through a pending output; FileError naming path on failure.
void write_offset_raster(const std::string& path, const OffsetRaster& raster);

// The raster as offsets between its samples: bilinear, and beyond the edge
// samples the nearest edge's.
class RasterField : public OffsetField {
public:
    explicit RasterField(OffsetRaster raster) : raster_(std::move(raster)) {}
    Offset at(double x, double y) const override;

private:
    OffsetRaster raster_;
};

} // namespace slcsim
