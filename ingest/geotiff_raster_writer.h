#pragma once

#include "resampling/raster_writer.h"

namespace ingest {

// A RasterWriter producing "<stem>.tif" (single band, CFloat32 or Float32
// GeoTIFF) through GDAL, under a temporary name until commit().
std::unique_ptr<RasterWriter> geotiff_raster_writer(const std::string& stem, int width, int lines,
                                                    RasterKind kind,
                                                    const stSarImageInfo& geometry);

} // namespace ingest
