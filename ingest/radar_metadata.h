#pragma once

// Radar parameters of an image from the KEY=VALUE metadata items GDAL exposes.
// Best effort: keys are matched without regard to case, '_', '-' or spaces
// against the names common drivers use (ENVI "wavelength", the Sentinel-1
// SAFE items MISSION_ID, ORBIT_DIRECTION, POLARISATION, PIXEL_SPACING,
// LINE_SPACING, ACQUISITION_START_TIME, and the usual spellings of radar
// frequency, PRF, range sampling rate and look direction); frequencies in Hz,
// wavelengths in metres unless ENVI's "wavelength units" says otherwise,
// spacings in metres. A parameter that
// is not found keeps the neutral value of make_sar_image_info (0 for numbers,
// the reader's defaults for strings) and is listed in one note.

#include "params/sar_image_xml.h"

#include <string>
#include <vector>

namespace ingest {

// Sets the parameters found in items on info; appends one note per parameter
// found (with the item it came from) and one listing those defaulted.
void apply_radar_metadata(const std::vector<std::string>& items, stSarImageInfo& info,
                          std::vector<std::string>& notes);

} // namespace ingest
