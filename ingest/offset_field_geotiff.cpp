#include "ingest/offset_field_geotiff.h"

#include "ingest/complex_raster.h"
#include "params/file_error.h"
#include "params/pending_output.h"

#include <cmath>
#include <cstdio>
#include <gdal_priv.h>
#include <memory>
#include <vector>

namespace ingest {
namespace {

struct DatasetCloser {
    void operator()(GDALDataset* d) const { GDALClose(d); }
};
using Dataset = std::unique_ptr<GDALDataset, DatasetCloser>;

struct BandLayout {
    const char* name;
    const char* unit;
    const std::vector<float>* values;
};

std::string last_gdal_error() {
    const char* message = CPLGetLastErrorMsg();
    return message != nullptr && *message != '\0' ? message : "GDAL gave no reason";
}

std::string number(double v) {
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
}

void write_band(GDALDataset& d, int index, const BandLayout& layout, const OffsetField& grid,
                const std::string& path) {
    GDALRasterBand* band = d.GetRasterBand(index);
    band->SetDescription(layout.name);
    if (layout.unit != nullptr)
        band->SetUnitType(layout.unit);
    if (band->RasterIO(GF_Write, 0, 0, grid.columns, grid.rows,
                       const_cast<float*>(layout.values->data()), grid.columns, grid.rows,
                       GDT_Float32, 0, 0) != CE_None)
        throw FileError(path, "write failed: " + last_gdal_error());
}

void write_grid_metadata(GDALDataset& d, const OffsetField& g) {
    d.SetMetadataItem("FIRST_RANGE", number(g.firstRange).c_str());
    d.SetMetadataItem("FIRST_AZIMUTH", number(g.firstAzimuth).c_str());
    d.SetMetadataItem("STEP_RANGE", number(g.stepRange).c_str());
    d.SetMetadataItem("STEP_AZIMUTH", number(g.stepAzimuth).c_str());
    d.SetMetadataItem("MASK_VALUES", kWindowStateLegend);
    double transform[6] = {g.firstRange - g.stepRange / 2,     g.stepRange, 0.0,
                           g.firstAzimuth - g.stepAzimuth / 2, 0.0,         g.stepAzimuth};
    d.SetGeoTransform(transform);
}

int find_band(GDALDataset& d, const char* name, int fallback) {
    for (int b = 1; b <= d.GetRasterCount(); b++)
        if (std::string(d.GetRasterBand(b)->GetDescription()) == name)
            return b;
    return fallback;
}

std::vector<float> read_band(GDALDataset& d, int index, const std::string& path) {
    GDALRasterBand* band = d.GetRasterBand(index);
    const int columns = d.GetRasterXSize(), rows = d.GetRasterYSize();
    std::vector<float> values(static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows));
    if (band->RasterIO(GF_Read, 0, 0, columns, rows, values.data(), columns, rows, GDT_Float32, 0,
                       0) != CE_None)
        throw FileError(path,
                        "cannot read band " + std::to_string(index) + ": " + last_gdal_error());
    int hasNoData = 0;
    const double noData = band->GetNoDataValue(&hasNoData);
    if (hasNoData != 0 && !std::isnan(noData))
        for (float& v : values)
            if (v == static_cast<float>(noData))
                v = std::nanf("");
    return values;
}

} // namespace

void write_offset_field_geotiff(const std::string& path, const DenseOffsets& field) {
    const OffsetField& g = field.offsets;
    const std::vector<float> mask(field.mask.begin(), field.mask.end());
    const BandLayout bands[] = {{"range_offset", "samples", &g.range},
                                {"azimuth_offset", "lines", &g.azimuth},
                                {"range_sigma", "samples", &field.rangeSigma},
                                {"azimuth_sigma", "lines", &field.azimuthSigma},
                                {"snr", nullptr, &field.snr},
                                {"peak", nullptr, &field.peak},
                                {"mask", nullptr, &mask}};
    PendingOutput out(path, PendingOutput::Mode::external);
    const QuietGdalErrors quiet; // GDAL's complaints come out once, in the FileError
    GDALAllRegister();
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GTiff");
    Dataset d(driver == nullptr ? nullptr
                                : driver->Create(out.temp_path().c_str(), g.columns, g.rows, 7,
                                                 GDT_Float32, nullptr));
    if (!d)
        throw FileError(path, "cannot be written: " + last_gdal_error());
    write_grid_metadata(*d, g);
    // A GeoTIFF holds one no-data value for all its bands: NaN, which the
    // mask never takes.
    for (int b = 1; b <= 6; b++)
        d->GetRasterBand(b)->SetNoDataValue(std::nan(""));
    int index = 1;
    for (const BandLayout& layout : bands)
        write_band(*d, index++, layout, g, path);
    CPLErrorReset();
    d.reset();
    if (CPLGetLastErrorType() >= CE_Failure)
        throw FileError(path, "write failed: " + last_gdal_error());
    out.commit();
}

OffsetField read_offset_field_geotiff(const std::string& path) {
    const QuietGdalErrors quiet;
    GDALAllRegister();
    CPLErrorReset();
    Dataset d(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
    if (!d)
        throw FileError(path, "cannot be read as a raster: " + last_gdal_error());
    if (d->GetRasterCount() < 2)
        throw FileError(path, "holds " + std::to_string(d->GetRasterCount()) +
                                  " band(s); an offset field needs range and azimuth offsets");
    OffsetField f;
    f.columns = d->GetRasterXSize();
    f.rows = d->GetRasterYSize();
    double t[6];
    if (d->GetGeoTransform(t) == CE_None) {
        if (t[2] != 0.0 || t[4] != 0.0 || !(t[1] > 0.0) || !(t[5] > 0.0))
            throw FileError(path, "its geotransform is not a grid of master samples and lines "
                                  "(rotated, flipped or of zero step)");
        f.stepRange = t[1];
        f.stepAzimuth = t[5];
        f.firstRange = t[0] + t[1] / 2;
        f.firstAzimuth = t[3] + t[5] / 2;
    }
    f.range = read_band(*d, find_band(*d, "range_offset", 1), path);
    f.azimuth = read_band(*d, find_band(*d, "azimuth_offset", 2), path);
    return f;
}

} // namespace ingest
