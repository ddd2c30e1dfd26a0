#pragma once

#include "params/sample_format.h"

#include <string>

// A GDAL virtual raster (VRT) beside each raw raster the module writes, so
// any GIS tool opens the file without being told its layout. Plain text:
// nothing here links GDAL.

enum class RawSampleType {
    cfloat32, // two little-endian 32-bit floats
    cint16,   // two little-endian 16-bit integers
    float32,  // one little-endian 32-bit float
    byte      // one unsigned byte
};

// The raw raster as GDAL is to see it.
struct RawRasterLayout {
    std::string raster; // the raw file; the VRT refers to it by name, relative to itself
    int width = 0, lines = 0;
    RawSampleType type = RawSampleType::cfloat32;
    std::string description; // the band's
    bool has_nodata = false;
    double nodata = 0.0;
    double scale = 1.0;   // physical value = stored value x scale
    std::string mask_vrt; // optional VRT of a byte mask, 1 where a sample is invalid
};

// "<raster>.vrt": the side-car's name, the raster's with ".vrt" appended.
std::string gdal_vrt_path(const std::string& raster);

// The sample type of an SLC format: FCOMPLEX as CFloat32, SCOMPLEX as CInt16
// (with a scale of 0.001 in its layout).
RawSampleType raw_sample_type(SampleFormat format);

// The VRT document of the layout.
std::string gdal_vrt_text(const RawRasterLayout& layout);
