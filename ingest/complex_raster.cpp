#include "ingest/complex_raster.h"

#include <cpl_error.h>
#include <cpl_minixml.h>
#include <cpl_string.h>
#include <cpl_vsi.h>
#include <gdal_priv.h>
#include <mutex>

namespace ingest {

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

struct RawLayout {
    std::string file;
    GIntBig imageOffset = 0, pixelOffset = 0, lineOffset = 0, bandOffset = 0;
    int sampleBytes = 0;
};

// A raw band behind a VRT (VRTRawRasterBand, as ISCE writes them), from the
// dataset's own XML; GDAL gives no raw layout for those.
bool vrt_raw_layout(GDALDatasetH dataset, int band, GDALDataType type, RawLayout& layout) {
    char** xml = GDALGetMetadata(dataset, "xml:VRT");
    if (xml == nullptr || xml[0] == nullptr)
        return false;
    std::unique_ptr<CPLXMLNode, void (*)(CPLXMLNode*)> root(CPLParseXMLString(xml[0]),
                                                            CPLDestroyXMLNode);
    const CPLXMLNode* vrt = root ? CPLGetXMLNode(root.get(), "=VRTDataset") : nullptr;
    for (const CPLXMLNode* node = vrt ? vrt->psChild : nullptr; node; node = node->psNext) {
        if (node->eType != CXT_Element || !EQUAL(node->pszValue, "VRTRasterBand") ||
            atoi(CPLGetXMLValue(node, "band", "0")) != band ||
            !EQUAL(CPLGetXMLValue(node, "subClass", ""), "VRTRawRasterBand"))
            continue;
        const char* name = CPLGetXMLValue(node, "SourceFilename", "");
        const bool relative = atoi(CPLGetXMLValue(node, "SourceFilename.relativeToVRT", "0")) != 0;
        const char* description = GDALGetDescription(dataset);
        layout.file = relative ? CPLProjectRelativeFilename(CPLGetPath(description), name) : name;
        layout.imageOffset = CPLAtoGIntBig(CPLGetXMLValue(node, "ImageOffset", "0"));
        layout.pixelOffset = CPLAtoGIntBig(CPLGetXMLValue(
            node, "PixelOffset", std::to_string(GDALGetDataTypeSizeBytes(type)).c_str()));
        layout.lineOffset = CPLAtoGIntBig(CPLGetXMLValue(node, "LineOffset", "0"));
        layout.sampleBytes = GDALGetDataTypeSizeBytes(type);
        return true;
    }
    return false;
}

bool raw_layout(GDALDatasetH dataset, int band, GDALDataType type, RawLayout& layout) {
    GDALDataset::RawBinaryLayout raw;
    if (!GDALDataset::FromHandle(dataset)->GetRawBinaryLayout(raw))
        return vrt_raw_layout(dataset, band, type, layout);
    layout.file = raw.osRawFilename;
    layout.imageOffset = static_cast<GIntBig>(raw.nImageOffset);
    layout.pixelOffset = raw.nPixelOffset;
    layout.lineOffset = raw.nLineOffset;
    layout.bandOffset = raw.nBandOffset;
    layout.sampleBytes = GDALGetDataTypeSizeBytes(raw.eDataType);
    return true;
}

// Raw formats (ENVI, a raw band behind a VRT and the like) read the missing
// end of a short file as zeros without a word, so their file's size is
// checked against the band's layout; other drivers report a damaged file
// when it is read.
void check_raw_size(GDALDatasetH dataset, int band, int width, int lines, const std::string& path) {
    RawLayout layout;
    if (!raw_layout(dataset, band, GDALGetRasterDataType(GDALGetRasterBand(dataset, band)),
                    layout) ||
        layout.pixelOffset < 0 || layout.lineOffset < 0 || layout.bandOffset < 0)
        return;
    const GIntBig needed = layout.imageOffset + (band - 1) * layout.bandOffset +
                           (lines - 1) * layout.lineOffset + (width - 1) * layout.pixelOffset +
                           layout.sampleBytes;
    VSIStatBufL stat;
    if (VSIStatL(layout.file.c_str(), &stat) == 0 && stat.st_size < needed)
        throw ImportError(path, "is truncated: " + layout.file + " holds " +
                                    std::to_string(stat.st_size) + " bytes, the raster needs " +
                                    std::to_string(needed));
}

} // namespace

ComplexRaster::ComplexRaster(const RasterSource& source, Progress* progress)
    : path_(source.path), progress_(progress) {
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
    if (progress_ != nullptr) {
        progress_->progress(100.0 * y / window_.lines);
        if (progress_->cancelled())
            throw Cancelled();
    }
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
