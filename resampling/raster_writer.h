#pragma once

#include "params/sar_image_xml.h"

#include <functional>
#include <memory>
#include <string>

// A float raster written row after row under a temporary name and renamed
// by commit(); destroyed uncommitted, it leaves nothing behind.
enum class RasterKind { complex64, float32 };

class RasterWriter {
public:
    virtual ~RasterWriter() = default;
    virtual void write_row(const void* row) = 0;
    // Complete under the temporary name (FileError or another
    // std::runtime_error naming the file on failure).
    virtual void finish() = 0;
    virtual void commit() = 0;
    virtual std::string path() const = 0;
};

// Makes the writer of "<stem>" plus the format's extension, width x lines,
// for an image of the given geometry.
using RasterWriterFactory =
    std::function<std::unique_ptr<RasterWriter>(const std::string& stem, int width, int lines,
                                                RasterKind kind, const stSarImageInfo& geometry)>;

// Raw little-endian samples at "<stem>" with an XML image parameter file at
// "<stem>.xml" (imageDataType FCOMPLEX or FLOAT) and a GDAL VRT at "<stem>.vrt"
// (0 the no-data value).
std::unique_ptr<RasterWriter> raw_raster_writer(const std::string& stem, int width, int lines,
                                                RasterKind kind, const stSarImageInfo& geometry);
