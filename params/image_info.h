#pragma once

#include "params/sar_image_xml.h"

#include <memory>
#include <string>

// An image's parameter file beside it, read; FileError naming the file
// when it is missing, malformed or describes no raster.
std::unique_ptr<stSarImageInfo> read_image_info(const std::string& image_path);
