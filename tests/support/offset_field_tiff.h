#pragma once

// Offset fields for the tests: sampled from polynomials, and written as the
// dense offset tracker writes them.
#include "ingest/offset_field_geotiff.h"
#include "params/dense_offsets.h"
#include "params/offset_field.h"
#include "params/offset_par.h"

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

// Writes f as the tracker's GeoTIFF, every window good.
inline void write_field_geotiff(const std::string& path, const OffsetField& f) {
    DenseOffsets d;
    d.offsets = f;
    for (std::vector<float>* band : {&d.rangeSigma, &d.azimuthSigma, &d.snr, &d.peak})
        band->assign(f.cells(), 0.0f);
    d.mask.assign(f.cells(), static_cast<unsigned char>(WindowState::good));
    ingest::write_offset_field_geotiff(path, d);
}
