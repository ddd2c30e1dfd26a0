#pragma once

#include <string>

// The fitted offsets of a pair: slave position = master position + offset,
// c0..c5 of 1, x, y, x*y, x^2, y^2 at master range sample x and line y.
struct OffsetPolynomials {
    double range[6] = {0, 0, 0, 0, 0, 0};
    double azimuth[6] = {0, 0, 0, 0, 0, 0};
};

// What a user of a co-registered pair needs from its offset parameter file.
struct OffsetFile {
    int initial_range_offset = 0;
    int initial_azimuth_offset = 0;
    OffsetPolynomials polynomials;
};

// Reads an offset parameter file strictly, for every reader outside the
// plug-in's own stages (which keep their lenient reading): each keyword must
// be there, the coarse offsets whole numbers and each polynomial six finite
// coefficients. Unlike the stages' reader, a missing value is an error and
// not a zero: a zero standing in for a term silently gives a wrong shift.
// FileError naming the file and the keyword.
OffsetFile read_offset_file(const std::string& path);

// FileError naming path (the polynomials' file) when the offsets reach
// beyond the images anywhere on the master grid: more than the larger
// image's width in range or its lines in azimuth, or not finite. Such a
// fit cannot be a co-registration, whatever made it.
void check_offsets_within_images(const OffsetPolynomials& offsets, int master_width,
                                 int master_lines, int slave_width, int slave_lines,
                                 const std::string& path);
