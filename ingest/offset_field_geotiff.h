#pragma once

#include "params/dense_offsets.h"
#include "params/offset_field.h"

#include <string>

namespace ingest {

// The dense offset field as one Float32 GeoTIFF of seven bands: range_offset
// and azimuth_offset (samples, lines), range_sigma and azimuth_sigma, snr,
// peak and mask (WindowState values), NaN the no-data value. Metadata
// FIRST_RANGE, FIRST_AZIMUTH, STEP_RANGE, STEP_AZIMUTH (the first window
// centre and the steps, in master samples and lines) and MASK_VALUES; the
// geotransform maps pixel corners to master samples and lines. Written under
// a temporary name, renamed when complete; FileError naming path.
void write_offset_field_geotiff(const std::string& path, const DenseOffsets& field);

// The range and azimuth offsets of a raster GDAL reads (the bands so named,
// else the first two), on the grid its geotransform gives (pixel centres;
// without one, pixel (c, r) is master sample c, line r). No-data cells are
// NaN. FileError naming path when it cannot be read, has fewer than two
// bands or a rotated or flipped geotransform.
OffsetField read_offset_field_geotiff(const std::string& path);

} // namespace ingest
