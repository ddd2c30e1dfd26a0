#pragma once

// Input rasters written with GDAL itself for the import tests.
#include "tests/support/scratch.h"

#include <complex>
#include <gdal.h>
#include <random>
#include <string>
#include <vector>

namespace fixtures {

using namespace scratch;

using Samples = std::vector<std::complex<double>>;

// One band of `type` holding `values` (row-major), which GDAL converts from doubles.
inline void write_raster(const std::string& path, GDALDataType type, int width, int lines,
                         Samples values, const char* driver = "GTiff") {
    GDALAllRegister();
    GDALDatasetH ds =
        GDALCreate(GDALGetDriverByName(driver), path.c_str(), width, lines, 1, type, nullptr);
    ASSERT_NE(ds, nullptr) << path;
    const GDALDataType buffer = GDALDataTypeIsComplex(type) ? GDT_CFloat64 : GDT_Float64;
    std::vector<double> real; // a real band takes the real parts
    for (const auto& v : values)
        real.push_back(v.real());
    void* data = buffer == GDT_CFloat64 ? static_cast<void*>(values.data()) : real.data();
    EXPECT_EQ(GDALRasterIO(GDALGetRasterBand(ds, 1), GF_Write, 0, 0, width, lines, data, width,
                           lines, buffer, 0, 0),
              CE_None);
    GDALClose(ds);
}

// Circular complex Gaussian speckle, parts rounded to whole numbers so every
// complex type holds them exactly.
inline Samples speckle(int width, int lines, unsigned seed) {
    std::mt19937 random(seed);
    std::normal_distribution<double> gauss(0.0, 1000.0);
    Samples out(static_cast<std::size_t>(width) * lines);
    for (auto& v : out)
        v = {std::round(gauss(random)), std::round(gauss(random))};
    return out;
}

// The w x h block at (x, y) of a row-major width-wide image.
inline Samples crop(const Samples& image, int width, int x, int y, int w, int h) {
    Samples out;
    for (int r = y; r < y + h; r++)
        for (int c = x; c < x + w; c++)
            out.push_back(image[static_cast<std::size_t>(r) * width + c]);
    return out;
}

} // namespace fixtures
