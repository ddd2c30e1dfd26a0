#pragma once

#include <cmath>
#include <cstddef>
#include <vector>

// Offsets (slave - master position, in samples and lines) sampled on a
// regular grid of master positions: column c of row r sits at master sample
// firstRange + c * stepRange and line firstAzimuth + r * stepAzimuth. Cells
// hold NaN where nothing was measured. Rows are azimuth positions and are
// stored one after the other.
struct OffsetField {
    double firstRange = 0.0, firstAzimuth = 0.0;
    double stepRange = 1.0, stepAzimuth = 1.0;
    int columns = 0, rows = 0;
    std::vector<float> range, azimuth;

    std::size_t index(int row, int column) const {
        return static_cast<std::size_t>(row) * static_cast<std::size_t>(columns) +
               static_cast<std::size_t>(column);
    }
    std::size_t cells() const { return static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns); }
    bool complete() const {
        for (std::size_t i = 0; i < cells(); i++)
            if (!std::isfinite(range[i]) || !std::isfinite(azimuth[i]))
                return false;
        return true;
    }
};
