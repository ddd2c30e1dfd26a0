#pragma once

#include <cstdio>

// Whether a raw image file can plausibly hold the raster its parameter file
// claims. A line longer than the whole file never can. A file cut short by
// some lines is still read (the missing lines read as zeros, with a
// warning), but one holding fewer than half of the claimed lines is taken as
// metadata that does not belong to it: a flipped digit or another product's
// file. Only regular files are checked; a stream has no size to check.
bool plausible_image_size(std::FILE* file, int columns, int rows, int bytesPerSample);
