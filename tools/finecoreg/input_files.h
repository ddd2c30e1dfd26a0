#pragma once

#include "options.h"

#include <string>

// The absolute form of a path, as the module forms it (QFileInfo).
std::string absolute_path(const std::string& path);

// The XML image parameter file the module reads for an image: the absolute
// image path up to its last "." (directories included) + ".xml".
std::string image_xml_path(const std::string& imagePath);

// Where the module writes the fitted offset parameters: over the offset
// parameter file, or its absolute path up to the last "." + "_new.off".
std::string fitted_offset_par_path(const std::string& offsetParPath, bool overwrite);

// Checks that the images, their XML files and the offset parameter file are
// there as regular files. Returns the problem, empty when all are.
std::string check_input_files(const Options& options);
