#pragma once

#include "params/offset_field.h"

#include <string>

// The offset field a dense offset tracker writes: a GeoTIFF whose bands
// described "range_offset" (samples) and "azimuth_offset" (lines) hold the
// offsets (Float32, NaN where nothing was measured; other bands, such as
// sigmas, SNR, peak and mask, are not read), one pixel per cell, and whose
// metadata FIRST_RANGE, FIRST_AZIMUTH, STEP_RANGE and STEP_AZIMUTH place the
// first cell and the steps on the master grid. FileError naming the file
// when it does not open, lacks a band or an item, or cannot be read.
OffsetField read_offset_field_geotiff(const std::string& path);
