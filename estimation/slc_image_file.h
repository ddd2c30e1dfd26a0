#pragma once

#include "params/file_handle.h"
#include "params/sample_format.h"

#include <string>

// A raw SLC file opened for the dense tracker, with the raster its XML file
// beside it describes.
struct SlcImageFile {
    std::string path;
    FileHandle file;
    int width = 0;
    int lines = 0;
    SampleFormat format = SampleFormat::fcomplex;
};

// FileError naming the image or its XML file when either cannot be read, the
// XML describes no raster or the image is shorter than it says.
SlcImageFile open_slc_image(const std::string& path);
