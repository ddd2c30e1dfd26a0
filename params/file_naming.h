#pragma once

#include <string>

// Where the files of a run live, decided from the paths a user gives. Every
// entry point (the plug-in, the tools, the Python package) names them here.

// The image parameter file the co-registration run (the plug-in's stage 1
// and every entry point that runs it) reads beside an image: the path up to
// its last "." (anywhere in the path, directories included), then ".xml"; a
// path without "." gets ".xml" appended. Kept so for the host's stored pairs.
std::string image_xml_path(const std::string& imagePath);

// The side-car file of path with the given suffix (".xml"), from the file
// name only: "dir/scene.slc" has "dir/scene.xml", "run.v2/out" has
// "run.v2/out.xml". Every file outside the co-registration run itself (the
// resampler's, the interferogram's, the import's) is named by this rule.
std::string sidecar_path(const std::string& path, const std::string& suffix);

// The resampler's mask beside its output: "<output>.mask".
std::string mask_path(const std::string& outputPath);

// The fitted offset parameter file written beside the input one when it is
// not overwritten: the path up to its last ".", then "_new.off".
std::string new_offset_par_path(const std::string& offsetParPath);

// Where stage 2 writes the fit: over the input file, or beside it.
std::string fitted_offset_par_path(const std::string& offsetParPath, bool overwrite);

// Names of the five work files of one run: a work base "<dir>/Temp_<n>" plus
// fixed suffixes.
struct WorkFiles {
    std::string offsets;       // "_offs"
    std::string snr;           // "_snr"
    std::string listing;       // "_offsets.txt"
    std::string culledOffsets; // "coffs"
    std::string culledListing; // "coffsets.txt"
};

WorkFiles work_files_for_base(const std::string& base);
