#pragma once

// One complex band of a GDAL dataset, opened and checked once; reads lines of
// the chosen window in the type the caller asks for.

#include "ingest/ingest.h"
#include "params/progress.h"

#include <gdal.h>
#include <memory>
#include <string>

namespace ingest {

// GDAL prints its errors by default; within a scope of this guard they are
// only recorded, so the library's messages are the only ones.
class QuietGdalErrors {
public:
    QuietGdalErrors();
    ~QuietGdalErrors();
    QuietGdalErrors(const QuietGdalErrors&) = delete;
    QuietGdalErrors& operator=(const QuietGdalErrors&) = delete;
};

class ComplexRaster {
public:
    // Throws ImportError naming source.path when the file does not open, the
    // band does not exist, the band is not complex or the window leaves the band.
    // Every read tells progress (may be null) how far into the window it is
    // and stops with Cancelled once it is cancelled.
    explicit ComplexRaster(const RasterSource& source, Progress* progress = nullptr);

    const std::string& path() const { return path_; }
    int width() const { return window_.width; }
    int lines() const { return window_.lines; }
    GDALDataType source_type() const { return GDALGetRasterDataType(band_); }

    // Reads the w x h samples at (x, y) of the window as `type`, line after line.
    void read(int x, int y, int w, int h, GDALDataType type, void* buffer) const;

    // KEY=VALUE items of every metadata domain of the dataset and the band.
    std::vector<std::string> metadata_items() const;

private:
    struct Closer {
        void operator()(void* dataset) const { GDALClose(dataset); }
    };
    std::string path_;
    std::unique_ptr<void, Closer> dataset_;
    GDALRasterBandH band_ = nullptr;
    Window window_;
    Progress* progress_;
};

} // namespace ingest
