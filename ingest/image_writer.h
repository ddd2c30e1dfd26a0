#pragma once

// The steps shared by the single-image and the pair import, on rasters that
// are already open and checked.

#include "ingest/complex_raster.h"
#include "params/sar_image_xml.h"

namespace ingest {

// The module's sample format for a GDAL complex type: "SCOMPLEX" for CInt16,
// "FCOMPLEX" for every other.
const char* sample_format_for(GDALDataType type);

// Throws ImportError naming image_path when the raw image would not fit in
// the free space of the file system that is to hold it (both figures named).
void check_free_space(const ComplexRaster& raster, const std::string& image_path);

// Writes the raw image and its XML file (each through a temporary name); on
// failure neither is left. info receives the record written to the XML file.
ImageImportResult write_image(const ComplexRaster& raster, const std::string& image_path,
                              stSarImageInfo& info);

// The coarse offset of slave against master (see estimate_coarse_offset).
CoarseOffsetEstimate estimate_offset(const ComplexRaster& master, const ComplexRaster& slave);

} // namespace ingest
