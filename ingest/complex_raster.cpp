#include "ingest/complex_raster.h"

#include <cpl_error.h>
#include <cpl_string.h>
#include <cpl_vsi.h>
#include <gdal_priv.h>
#include <mutex>

namespace ingest {

ImportError::ImportError(const std::string& file, const std::string& problem)
    : std::runtime_error(file + ": " + problem), file_(file) {}

QuietGdalErrors::QuietGdalErrors() {
    CPLPushErrorHandler(CPLQuietErrorHandler);
}

QuietGdalErrors::~QuietGdalErrors() {
    CPLPopErrorHandler();
}

namespace {

std::string last_gdal_error(const char* fallback) {
    const char* message = CPLGetLastErrorMsg();
    return (message != nullptr && *message != '\0') ? message : fallback;
}

bool window_inside(const Window& w, int width, int lines) {
    return w.width > 0 && w.lines > 0 && w.x >= 0 && w.y >= 0 && w.x <= width - w.width &&
           w.y <= lines - w.lines;
}

// Raw formats (ENVI and the like) read the missing end of a short file as
// zeros without a word, so their file's size is checked against the band's
// layout; other drivers report a damaged file when it is read.
void check_raw_size(GDALDatasetH dataset, int band, int width, int lines, const std::string& path) {
    GDALDataset::RawBinaryLayout layout;
    if (!GDALDataset::FromHandle(dataset)->GetRawBinaryLayout(layout) || layout.nPixelOffset < 0 ||
        layout.nLineOffset < 0 || layout.nBandOffset < 0)
        return;
    const GIntBig needed = static_cast<GIntBig>(layout.nImageOffset) +
                           (band - 1) * layout.nBandOffset + (lines - 1) * layout.nLineOffset +
                           (width - 1) * layout.nPixelOffset +
                           GDALGetDataTypeSizeBytes(layout.eDataType);
    VSIStatBufL stat;
    if (VSIStatL(layout.osRawFilename.c_str(), &stat) == 0 && stat.st_size < needed)
        throw ImportError(path, "is truncated: " + layout.osRawFilename + " holds " +
                                    std::to_string(stat.st_size) + " bytes, the raster needs " +
                                    std::to_string(needed));
}

} // namespace

ComplexRaster::ComplexRaster(const RasterSource& source) : path_(source.path) {
    static std::once_flag registered;
    std::call_once(registered, GDALAllRegister);
    CPLErrorReset();
    dataset_.reset(GDALOpen(path_.c_str(), GA_ReadOnly));
    if (!dataset_)
        throw ImportError(path_, "cannot open as a raster: " + last_gdal_error("unknown format"));
    const int bands = GDALGetRasterCount(dataset_.get());
    if (source.band < 1 || source.band > bands)
        throw ImportError(path_, "has no band " + std::to_string(source.band) + " (it has " +
                                     std::to_string(bands) + ")");
    band_ = GDALGetRasterBand(dataset_.get(), source.band);
    if (!GDALDataTypeIsComplex(source_type()))
        throw ImportError(path_, "band " + std::to_string(source.band) + " holds " +
                                     GDALGetDataTypeName(source_type()) +
                                     " samples, not complex ones");
    const int width = GDALGetRasterXSize(dataset_.get());
    const int lines = GDALGetRasterYSize(dataset_.get());
    check_raw_size(dataset_.get(), source.band, width, lines, path_);
    window_ = source.window.value_or(Window{0, 0, width, lines});
    if (!window_inside(window_, width, lines))
        throw ImportError(path_,
                          "window " + std::to_string(window_.x) + " " + std::to_string(window_.y) +
                              " " + std::to_string(window_.width) + " " +
                              std::to_string(window_.lines) + " is not inside the " +
                              std::to_string(width) + " x " + std::to_string(lines) + " raster");
}

void ComplexRaster::read(int x, int y, int w, int h, GDALDataType type, void* buffer) const {
    CPLErrorReset();
    if (GDALRasterIO(band_, GF_Read, window_.x + x, window_.y + y, w, h, buffer, w, h, type, 0,
                     0) != CE_None ||
        CPLGetLastErrorType() == CE_Failure)
        throw ImportError(path_, "read failed in lines " + std::to_string(window_.y + y) + " to " +
                                     std::to_string(window_.y + y + h - 1) + ": " +
                                     last_gdal_error("unknown error"));
}

std::vector<std::string> ComplexRaster::metadata_items() const {
    std::vector<std::string> items;
    for (void* object : {dataset_.get(), static_cast<void*>(band_)}) {
        char** domains = GDALGetMetadataDomainList(object);
        for (int d = 0; domains != nullptr && domains[d] != nullptr; d++) {
            if (STARTS_WITH(domains[d], "xml:"))
                continue; // whole documents, not KEY=VALUE items
            char** list = GDALGetMetadata(object, domains[d]);
            for (int k = 0; list != nullptr && list[k] != nullptr; k++)
                items.emplace_back(list[k]);
        }
        CSLDestroy(domains);
    }
    return items;
}

} // namespace ingest
