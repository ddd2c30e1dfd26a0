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

std::string sidecar_path(const std::string& path, const std::string& suffix) {
    const std::size_t slash = path.rfind('/');
    const std::size_t name = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = path.rfind('.');
    // A leading dot names a hidden file, it is no extension.
    const bool extension = dot != std::string::npos && dot > name;
    return (extension ? path.substr(0, dot) : path) + suffix;
}

std::string mask_path(const std::string& outputPath) {
    return outputPath + ".mask";
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
