#include "params/file_naming.h"

namespace {

std::string before_last_dot(const std::string& path) {
    const std::size_t dot = path.rfind('.');
    return dot == std::string::npos ? path : path.substr(0, dot);
}

} // namespace

std::string image_xml_path(const std::string& imagePath) {
    return before_last_dot(imagePath) + ".xml";
}

std::string new_offset_par_path(const std::string& offsetParPath) {
    return before_last_dot(offsetParPath) + "_new.off";
}

std::string fitted_offset_par_path(const std::string& offsetParPath, bool overwrite) {
    return overwrite ? offsetParPath : new_offset_par_path(offsetParPath);
}

WorkFiles work_files_for_base(const std::string& base) {
    return {base + "_offs", base + "_snr", base + "_offsets.txt", base + "coffs",
            base + "coffsets.txt"};
}
