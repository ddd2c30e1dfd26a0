#include "input_files.h"

#include <QFileInfo>
#include <QString>
#include <sys/stat.h>

namespace {

// Everything up to the last "." of the whole path, or the whole path.
std::string before_last_dot(const std::string& path) {
    const std::size_t dot = path.rfind('.');
    return dot == std::string::npos ? path : path.substr(0, dot);
}

std::string check_file(const std::string& path, const char* what) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return std::string(what) + " not found: " + path;
    if (!S_ISREG(st.st_mode))
        return std::string(what) + " is not a regular file: " + path;
    return {};
}

} // namespace

std::string absolute_path(const std::string& path) {
    return QFileInfo(QString::fromLocal8Bit(path.c_str()))
        .absoluteFilePath()
        .toLocal8Bit()
        .toStdString();
}

std::string image_xml_path(const std::string& imagePath) {
    return before_last_dot(absolute_path(imagePath)) + ".xml";
}

std::string fitted_offset_par_path(const std::string& offsetParPath, bool overwrite) {
    if (overwrite)
        return absolute_path(offsetParPath);
    return before_last_dot(absolute_path(offsetParPath)) + "_new.off";
}

std::string check_input_files(const Options& options) {
    const std::pair<std::string, const char*> inputs[] = {
        {options.masterPath, "master image"},
        {image_xml_path(options.masterPath), "master image parameter file"},
        {options.slavePath, "slave image"},
        {image_xml_path(options.slavePath), "slave image parameter file"},
        {options.offsetParPath, "offset parameter file"},
    };
    for (const auto& [path, what] : inputs) {
        std::string problem = check_file(path, what);
        if (!problem.empty())
            return problem;
    }
    return {};
}
