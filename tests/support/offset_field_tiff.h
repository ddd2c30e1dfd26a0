#pragma once

// Offset fields for the tests: sampled from polynomials, and written as the
// dense offset tracker's GeoTIFF (bands described as it describes them, the
// grid's placement in the metadata), through GDAL.
#include "params/offset_field.h"
#include "params/offset_par.h"

#include <cstdio>
#include <gdal.h>
#include <string>
#include <vector>

// The offsets of the polynomials at a grid of master positions.
inline OffsetField sampled_field(const double range[6], const double azimuth[6], double first,
                                 double step, int columns, int rows) {
    OffsetField f;
    f.firstRange = f.firstAzimuth = first;
    f.stepRange = f.stepAzimuth = step;
    f.columns = columns;
    f.rows = rows;
    for (int r = 0; r < rows; r++)
        for (int c = 0; c < columns; c++) {
            f.range.push_back(
                static_cast<float>(eval_offset_poly(range, first + c * step, first + r * step)));
            f.azimuth.push_back(
                static_cast<float>(eval_offset_poly(azimuth, first + c * step, first + r * step)));
        }
    return f;
}

// Writes f; the bands beyond the two offsets hold zeros. False on failure.
inline bool write_field_geotiff(const std::string& path, const OffsetField& f) {
    GDALAllRegister();
    GDALDriverH driver = GDALGetDriverByName("GTiff");
    GDALDatasetH d =
        driver ? GDALCreate(driver, path.c_str(), f.columns, f.rows, 7, GDT_Float32, nullptr)
               : nullptr;
    if (d == nullptr)
        return false;
    const char* names[7] = {"range_offset", "azimuth_offset", "range_sigma", "azimuth_sigma",
                            "snr",          "peak",           "mask"};
    std::vector<float> zeros(f.cells(), 0.0f);
    bool ok = true;
    for (int b = 0; b < 7; b++) {
        GDALRasterBandH band = GDALGetRasterBand(d, b + 1);
        GDALSetDescription(band, names[b]);
        std::vector<float> values = b == 0 ? f.range : b == 1 ? f.azimuth : zeros;
        ok = ok && GDALRasterIO(band, GF_Write, 0, 0, f.columns, f.rows, values.data(), f.columns,
                                f.rows, GDT_Float32, 0, 0) == CE_None;
    }
    const std::pair<const char*, double> items[4] = {{"FIRST_RANGE", f.firstRange},
                                                     {"FIRST_AZIMUTH", f.firstAzimuth},
                                                     {"STEP_RANGE", f.stepRange},
                                                     {"STEP_AZIMUTH", f.stepAzimuth}};
    for (const auto& [name, value] : items) {
        char text[32];
        std::snprintf(text, sizeof text, "%.17g", value);
        GDALSetMetadataItem(d, name, text, nullptr);
    }
    GDALClose(d);
    return ok;
}
