#include "input_files.h"

#include "params/file_naming.h"

#include <QFileInfo>
#include <QString>
#include <sys/stat.h>

namespace {

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

std::string absolute_image_xml_path(const std::string& imagePath) {
    return image_xml_path(absolute_path(imagePath));
}

std::string check_input_files(const Options& options) {
    const std::pair<std::string, const char*> inputs[] = {
        {options.run.masterPath, "master image"},
        {absolute_image_xml_path(options.run.masterPath), "master image parameter file"},
        {options.run.slavePath, "slave image"},
        {absolute_image_xml_path(options.run.slavePath), "slave image parameter file"},
        {options.run.offsetParPath, "offset parameter file"},
    };
    for (const auto& [path, what] : inputs) {
        std::string problem = check_file(path, what);
        if (!problem.empty())
            return problem;
    }
    return {};
}
