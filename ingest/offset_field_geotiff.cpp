#include "ingest/offset_field_geotiff.h"

#include "ingest/complex_raster.h"
#include "params/file_error.h"

#include <cerrno>
#include <cpl_error.h>
#include <cstdlib>
#include <gdal.h>
#include <memory>
#include <mutex>
#include <vector>

namespace {

using Dataset = std::unique_ptr<void, decltype(&GDALClose)>;

GDALRasterBandH band_described(GDALDatasetH dataset, const char* description,
                               const std::string& path) {
    for (int b = 1; b <= GDALGetRasterCount(dataset); b++) {
        GDALRasterBandH band = GDALGetRasterBand(dataset, b);
        if (std::string(GDALGetDescription(band)) == description)
            return band;
    }
    throw FileError(path, std::string("has no band described \"") + description + "\"");
}

double metadata_number(GDALDatasetH dataset, const char* item, const std::string& path) {
    const char* text = GDALGetMetadataItem(dataset, item, nullptr);
    if (text == nullptr)
        throw FileError(path, std::string("has no metadata item ") + item);
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || errno != 0)
        throw FileError(path,
                        std::string("metadata item ") + item + " is not a number: '" + text + "'");
    return value;
}

std::vector<float> read_band(GDALRasterBandH band, int columns, int rows, const std::string& path) {
    std::vector<float> values(static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows));
    if (GDALRasterIO(band, GF_Read, 0, 0, columns, rows, values.data(), columns, rows, GDT_Float32,
                     0, 0) != CE_None)
        throw FileError(path, std::string("cannot read band \"") + GDALGetDescription(band) +
                                  "\": " + CPLGetLastErrorMsg());
    return values;
}

} // namespace

OffsetField read_offset_field_geotiff(const std::string& path) {
    static std::once_flag registered;
    std::call_once(registered, GDALAllRegister);
    const ingest::QuietGdalErrors quiet;
    CPLErrorReset();
    Dataset dataset(
        GDALOpenEx(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, nullptr, nullptr, nullptr),
        GDALClose);
    if (!dataset)
        throw FileError(path, std::string("cannot open as a raster: ") +
                                  (*CPLGetLastErrorMsg() ? CPLGetLastErrorMsg() : "unknown"));
    GDALDatasetH d = dataset.get();
    OffsetField field;
    field.columns = GDALGetRasterXSize(d);
    field.rows = GDALGetRasterYSize(d);
    field.firstRange = metadata_number(d, "FIRST_RANGE", path);
    field.firstAzimuth = metadata_number(d, "FIRST_AZIMUTH", path);
    field.stepRange = metadata_number(d, "STEP_RANGE", path);
    field.stepAzimuth = metadata_number(d, "STEP_AZIMUTH", path);
    field.range =
        read_band(band_described(d, "range_offset", path), field.columns, field.rows, path);
    field.azimuth =
        read_band(band_described(d, "azimuth_offset", path), field.columns, field.rows, path);
    return field;
}
