#pragma once

#include "offset_model.h"
#include "slc_file.h"

#include <string>

namespace slcsim {

// Rounds c0 to 5 decimals and c1..c5 to 5 significant digits, as the offset
// parameter file holds them.
void round_to_par_layout(double coefficients[6]);

// The XML image parameter file beside the image: raster and sample format.
// A non-zero doppler (cycles per line) goes in as its constant term in Hz at the PRF; a
// non-empty start as rawDataStartTime.
bool write_image_xml(const std::string& image_path, int width, int lines, SampleFormat format,
                     double doppler, double prf, const std::string& start, std::string* error);

// Offset parameter file with the coarse offsets and zero polynomials.
bool write_initial_offsets(const std::string& path, int range_offset, int azimuth_offset,
                           std::string* error);

// The true polynomials in the offset parameter file layout.
bool write_truth(const std::string& path, const double range[6], const double azimuth[6],
                 std::string* error);

// The total offsets at every master sample, an offset raster file.
bool write_truth_field(const std::string& path, const OffsetModel& model, int width, int lines,
                       std::string* error);

} // namespace slcsim
