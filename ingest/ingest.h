#pragma once

// Import of complex rasters that GDAL reads into the module's SLC files: a raw
// sample file plus its XML image parameter file, and for a pair a starting
// offset parameter file. Each call takes an optional progress, asked between
// blocks of lines read; once cancelled it stops with Cancelled. Plain structs in, a result struct
// out; every failure is an ImportError naming the file it concerns, and leaves no output behind.

#include "params/file_error.h"
#include "params/progress.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace ingest {

// what() is "<file>: <problem>", as for every file of the module.
using ImportError = FileError;

// A crop of the band: first sample x, first line y, width samples, lines lines.
struct Window {
    int x = 0;
    int y = 0;
    int width = 0;
    int lines = 0;
};

// One band of a complex raster, whole or cropped.
struct RasterSource {
    RasterSource() = default;
    RasterSource(std::string path_, int band_ = 1, std::optional<Window> window_ = std::nullopt)
        : path(std::move(path_)), band(band_), window(window_) {}

    std::string path;
    int band = 1;                 // 1-based, as GDAL counts
    std::optional<Window> window; // the whole band when empty
};

struct ImageImportResult {
    std::string image_path;
    std::string xml_path;
    std::string vrt_path;           // GDAL's view of the image, "<image>.vrt"
    std::string sample_format;      // "SCOMPLEX" or "FCOMPLEX"
    int columns = 0;                // samples per line
    int rows = 0;                   // lines
    std::vector<std::string> notes; // conversions, metadata found and defaulted
};

// Slave position = master position + offset, in whole samples and lines.
struct IntegerOffset {
    int range = 0;
    int azimuth = 0;
};

struct CoarseOffsetEstimate {
    IntegerOffset offset;
    double correlation = 0.0; // normalized cross-correlation of the amplitudes at the offset
    // The multi-looked search's correlation peak and the next peak of its
    // surface; an estimate is refused unless the first is kMinPeakRatio
    // times the second.
    double peak = 0.0;
    double next_peak = 0.0;
    int range_looks = 1; // looks of the first, multi-looked search
    int azimuth_looks = 1;
};

// How far the correlation peak must stand above the next peak of the
// surface. Measured on the multi-looked search: related pairs gave 1.27 to
// 1.51 (a structured UAVSAR scene against itself, shifted or resampled) and
// 2.6 to 3.6 (Sentinel-1 repeat pass and crops), simulated pairs 2.7 (coherence
// 0.4) to 19 (0.95); unrelated or non-overlapping images 1.00 to 1.17, as did
// simulated pairs at coherence 0.2, whose estimate was wrong.
constexpr double kMinPeakRatio = 1.22;

struct PairImportRequest {
    RasterSource master;
    RasterSource slave;
    std::string out_dir;                 // created when missing (one level)
    std::optional<IntegerOffset> offset; // estimated from the amplitudes when empty
};

struct PairImportResult {
    ImageImportResult master;    // out_dir/master.slc and its XML file
    ImageImportResult slave;     // out_dir/slave.slc and its XML file
    std::string offset_par_path; // out_dir/pair.off
    IntegerOffset offset;
    std::optional<CoarseOffsetEstimate> estimate; // set when the offset was estimated
};

// CInt16 becomes "SCOMPLEX", CFloat32 "FCOMPLEX"; CInt32 and CFloat64 are
// converted to "FCOMPLEX" with a note. The raster is copied a block of lines
// at a time. The XML file is named from image_path's file name (up to its
// last '.', then ".xml"); neither may be the source.
ImageImportResult import_image(const RasterSource& source, const std::string& image_path,
                               Progress* progress = nullptr);

// Integer offset of slave against master from their amplitudes: normalized
// cross-correlation of multi-looked amplitudes over every shift that keeps a
// quarter of the smaller image overlapping, then a local search at full
// resolution. Neither image is ever held whole. Refused (ImportError naming
// the slave) when the peak does not stand clearly above the next one.
CoarseOffsetEstimate estimate_coarse_offset(const RasterSource& master, const RasterSource& slave,
                                            Progress* progress = nullptr);

// Both images, then out_dir/pair.off holding the coarse offset. Both sources
// are checked (they must give the same sample format) and the offset
// estimated before anything is written; a later failure removes what the
// call wrote.
PairImportResult import_pair(const PairImportRequest& request, Progress* progress = nullptr);

} // namespace ingest
