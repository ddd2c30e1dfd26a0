#pragma once

#include <string>

// Sample formats of the raw SLC files. The master's imageDataType decides
// the format of both images of a run.
enum class SampleFormat {
    fcomplex, // two little-endian 32-bit floats per sample
    scomplex  // two little-endian 16-bit integers per sample, value = integer * 0.001
};

// "SCOMPLEX" reads as SCOMPLEX; every other name as FCOMPLEX.
SampleFormat sample_format_of(const std::string& imageDataType);

// "FCOMPLEX" or "SCOMPLEX", the image parameter file's name of the format.
const char* sample_format_name(SampleFormat format);

int bytes_per_sample(SampleFormat format);

// FileError naming path when a regular file of file_bytes bytes is shorter
// than the width x lines raster of the format its XML file claims.
void check_image_length(const std::string& path, long long file_bytes, int width, int lines,
                        SampleFormat format);
