#pragma once

#include <cstdio>

// Offset parameter record; the fields carry the names of their keywords.
struct stOffsetParInfo {
    char title[128];
    int initial_range_offset;
    int initial_azimuth_offset;
    int slc1_starting_range_pixel;
    int number_of_slc_range_pixels;
    int offset_estimation_starting_range;
    int offset_estimation_ending_range;
    int offset_estimation_range_samples;
    int offset_estimation_range_spacing;
    int offset_estimation_starting_azimuth;
    int offset_estimation_ending_azimuth;
    int offset_estimation_azimuth_samples;
    int offset_estimation_azimuth_spacing;
    int offset_estimation_window_width;
    int offset_estimation_window_height;
    double offset_estimation_threshhold;
    double range_offset_polynomial[6];
    double azimuth_offset_polynomial[6];
    int slc1_starting_azimuth_line;
    int interferogram_azimuth_lines;
    int interferogram_width;
    int first_nonzero_range_pixel;
    int number_of_nonzero_range_pixels;
    int interferogram_range_looks;
    int interferogram_azimuth_looks;
    double interferogram_range_pixel_spacing;
    double interferogram_azimuth_pixel_spacing;
    double resampled_range_pixel_spacing;
    double resampled_azimuth_pixel_spacing;
    double resampled_starting_ground_range;
    int resampled_pixels_per_line;
    int resampled_number_of_lines;
};

// Reads every field from a stream opened for reading; missing or malformed
// entries print the reader's warning and keep their zero default.
void read_offset_par(std::FILE* stream, stOffsetParInfo* par);

// Writes the record in the fixed layout (the title is not written).
void write_offset_par(std::FILE* stream, const stOffsetParInfo* par);

// c0 + c1 x + c2 y + c3 x y + c4 x^2 + c5 y^2, summed in a fixed order.
double eval_offset_poly(const double coefficients[6], double x, double y);
