#include "params/offset_par.h"

#include "params/keyword_reader.h"

#include <cstdlib>

void read_offset_par(std::FILE* stream, stOffsetParInfo* par) {
    int length = 0;
    const ParText owned = load_par_text(stream, &length);
    const char* text = owned.get();

    // Every entry is searched on its own; the readers leave their zero default
    // and print a warning when an entry is missing or unreadable.
    rd_str(text, length, "title", par->title, sizeof par->title);
    rd_int(text, length, "initial_range_offset", &par->initial_range_offset);
    rd_int(text, length, "initial_azimuth_offset", &par->initial_azimuth_offset);
    rd_int(text, length, "slc1_starting_range_pixel", &par->slc1_starting_range_pixel);
    rd_int(text, length, "number_of_slc_range_pixels", &par->number_of_slc_range_pixels);
    rd_int(text, length, "offset_estimation_starting_range",
           &par->offset_estimation_starting_range);
    rd_int(text, length, "offset_estimation_ending_range", &par->offset_estimation_ending_range);
    rd_int(text, length, "offset_estimation_range_samples", &par->offset_estimation_range_samples);
    rd_int(text, length, "offset_estimation_range_spacing", &par->offset_estimation_range_spacing);
    rd_int(text, length, "offset_estimation_starting_azimuth",
           &par->offset_estimation_starting_azimuth);
    rd_int(text, length, "offset_estimation_ending_azimuth",
           &par->offset_estimation_ending_azimuth);
    rd_int(text, length, "offset_estimation_azimuth_samples",
           &par->offset_estimation_azimuth_samples);
    rd_int(text, length, "offset_estimation_azimuth_spacing",
           &par->offset_estimation_azimuth_spacing);
    rd_int(text, length, "offset_estimation_window_width", &par->offset_estimation_window_width);
    rd_int(text, length, "offset_estimation_window_height", &par->offset_estimation_window_height);
    rd_dbl(text, length, "offset_estimation_threshhold", &par->offset_estimation_threshhold);
    rd_vec(text, length, "range_offset_polynomial", par->range_offset_polynomial, 6);
    rd_vec(text, length, "azimuth_offset_polynomial", par->azimuth_offset_polynomial, 6);
    rd_int(text, length, "slc1_starting_azimuth_line", &par->slc1_starting_azimuth_line);
    rd_int(text, length, "interferogram_azimuth_lines", &par->interferogram_azimuth_lines);
    rd_int(text, length, "interferogram_width", &par->interferogram_width);
    rd_int(text, length, "first_nonzero_range_pixel", &par->first_nonzero_range_pixel);
    // This one keyword is searched together with its colon.
    rd_int(text, length, "number_of_nonzero_range_pixels:", &par->number_of_nonzero_range_pixels);
    rd_int(text, length, "interferogram_range_looks", &par->interferogram_range_looks);
    rd_int(text, length, "interferogram_azimuth_looks", &par->interferogram_azimuth_looks);
    rd_dbl(text, length, "interferogram_range_pixel_spacing",
           &par->interferogram_range_pixel_spacing);
    rd_dbl(text, length, "interferogram_azimuth_pixel_spacing",
           &par->interferogram_azimuth_pixel_spacing);
    rd_dbl(text, length, "resampled_range_pixel_spacing", &par->resampled_range_pixel_spacing);
    rd_dbl(text, length, "resampled_azimuth_pixel_spacing", &par->resampled_azimuth_pixel_spacing);
    rd_dbl(text, length, "resampled_starting_ground_range", &par->resampled_starting_ground_range);
    rd_int(text, length, "resampled_pixels_per_line", &par->resampled_pixels_per_line);
    rd_int(text, length, "resampled_number_of_lines", &par->resampled_number_of_lines);
}

void write_offset_par(std::FILE* stream, const stOffsetParInfo* par) {
    // Blank whatever the stream already holds (only a stream opened without
    // truncation has content) so a shorter text leaves no stale tail.
    std::fseek(stream, 0L, SEEK_END);
    const long old_size = std::ftell(stream);
    std::rewind(stream);
    if (old_size != 0) {
        for (long i = 0; i < old_size; i++)
            std::fputc(' ', stream);
        std::fflush(stream);
        std::rewind(stream);
    }

    const double* rp = par->range_offset_polynomial;
    const double* ap = par->azimuth_offset_polynomial;
    std::fprintf(stream, "KIV4.0 Interferometric SAR Processor (ISP)\n");
    std::fprintf(stream, "Interferogram and Image Offset Parameter File\n\n");
    std::fprintf(stream, "initial_range_offset:               %6d\n", par->initial_range_offset);
    std::fprintf(stream, "initial_azimuth_offset:             %6d\n", par->initial_azimuth_offset);
    std::fprintf(stream, "slc1_starting_range_pixel:          %6d\n",
                 par->slc1_starting_range_pixel);
    std::fprintf(stream, "number_of_slc_range_pixels:         %6d\n",
                 par->number_of_slc_range_pixels);
    std::fprintf(stream, "offset_estimation_starting_range:   %6d\n",
                 par->offset_estimation_starting_range);
    std::fprintf(stream, "offset_estimation_ending_range:     %6d\n",
                 par->offset_estimation_ending_range);
    std::fprintf(stream, "offset_estimation_range_samples:    %6d\n",
                 par->offset_estimation_range_samples);
    std::fprintf(stream, "offset_estimation_range_spacing:    %6d\n",
                 par->offset_estimation_range_spacing);
    std::fprintf(stream, "offset_estimation_starting_azimuth: %6d\n",
                 par->offset_estimation_starting_azimuth);
    std::fprintf(stream, "offset_estimation_ending_azimuth:   %6d\n",
                 par->offset_estimation_ending_azimuth);
    std::fprintf(stream, "offset_estimation_azimuth_samples:  %6d\n",
                 par->offset_estimation_azimuth_samples);
    std::fprintf(stream, "offset_estimation_azimuth_spacing:  %6d\n",
                 par->offset_estimation_azimuth_spacing);
    std::fprintf(stream, "offset_estimation_window_width:     %6d\n",
                 par->offset_estimation_window_width);
    std::fprintf(stream, "offset_estimation_window_height:    %6d\n",
                 par->offset_estimation_window_height);
    std::fprintf(stream, "offset_estimation_threshhold:      %10.2f\n",
                 par->offset_estimation_threshhold);
    std::fprintf(stream, "range_offset_polynomial:    %12.5f %12.4e %12.4e %12.4e %12.4e %12.4e\n",
                 rp[0], rp[1], rp[2], rp[3], rp[4], rp[5]);
    std::fprintf(stream, "azimuth_offset_polynomial:  %12.5f %12.4e %12.4e %12.4e %12.4e %12.4e\n",
                 ap[0], ap[1], ap[2], ap[3], ap[4], ap[5]);
    std::fprintf(stream, "slc1_starting_azimuth_line:          %6d\n",
                 par->slc1_starting_azimuth_line);
    std::fprintf(stream, "interferogram_azimuth_lines:         %6d\n",
                 par->interferogram_azimuth_lines);
    std::fprintf(stream, "interferogram_width:                 %6d\n", par->interferogram_width);
    std::fprintf(stream, "first_nonzero_range_pixel:           %6d\n",
                 par->first_nonzero_range_pixel);
    std::fprintf(stream, "number_of_nonzero_range_pixels:      %6d\n",
                 par->number_of_nonzero_range_pixels);
    std::fprintf(stream, "interferogram_range_looks:           %6d\n",
                 par->interferogram_range_looks);
    std::fprintf(stream, "interferogram_azimuth_looks:         %6d\n",
                 par->interferogram_azimuth_looks);
    std::fprintf(stream, "interferogram_range_pixel_spacing:   %12.6f   m\n",
                 par->interferogram_range_pixel_spacing);
    std::fprintf(stream, "interferogram_azimuth_pixel_spacing: %12.6f   m\n",
                 par->interferogram_azimuth_pixel_spacing);
    std::fprintf(stream, "resampled_range_pixel_spacing:       %12.6f   m\n",
                 par->resampled_range_pixel_spacing);
    std::fprintf(stream, "resampled_azimuth_pixel_spacing:     %12.6f   m\n",
                 par->resampled_azimuth_pixel_spacing);
    std::fprintf(stream, "resampled_starting_ground_range: %15.5f   m\n",
                 par->resampled_starting_ground_range);
    std::fprintf(stream, "resampled_pixels_per_line:          %6d\n",
                 par->resampled_pixels_per_line);
    std::fprintf(stream, "resampled_number_of_lines:          %6d\n",
                 par->resampled_number_of_lines);
    std::fprintf(stream, "\n");
}

double eval_offset_poly(const double coefficients[6], double x, double y) {
    const double* c = coefficients;
    // The summation order fixes the rounding; keep it.
    double s = (c[1] * x + c[0]) + c[2] * y;
    s = (x * y) * c[3] + s;
    s = s + (x * x) * c[4];
    s = s + (y * y) * c[5];
    return s;
}
