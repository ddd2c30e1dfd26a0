#pragma once

#include "options.h"

#include <string>

// The absolute form of a path, as the module forms it (QFileInfo).
std::string absolute_path(const std::string& path);

// The XML image parameter file the module reads for an image, as the module
// names it from the image's absolute path.
std::string absolute_image_xml_path(const std::string& imagePath);

// Checks that the images, their XML files and the offset parameter file are
// there as regular files. Returns the problem, empty when all are.
std::string check_input_files(const Options& options);
