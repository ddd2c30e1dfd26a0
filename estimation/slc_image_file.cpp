#include "estimation/slc_image_file.h"

#include "params/file_error.h"
#include "params/file_naming.h"
#include "params/sar_image_xml.h"

#include <cerrno>
#include <cstring>
#include <exception>
#include <memory>
#include <sys/stat.h>

namespace {

stSarImageInfo read_xml(const std::string& xml) {
    auto info = std::make_unique<stSarImageInfo>();
    bool ok = false;
    try {
        ok = read_sar_image_xml(xml, *info);
    } catch (const std::exception& e) {
        throw FileError(xml, std::string("cannot read the image parameter file: ") + e.what());
    }
    if (!ok)
        throw FileError(xml, "cannot read the image parameter file");
    if (info->numberOfColumns <= 0 || info->numberOfRows <= 0)
        throw FileError(xml, "the image parameter file describes no raster (" +
                                 std::to_string(info->numberOfColumns) + " x " +
                                 std::to_string(info->numberOfRows) + ")");
    return *info;
}

} // namespace

SlcImageFile open_slc_image(const std::string& path) {
    SlcImageFile image;
    image.path = path;
    image.file = open_file(path, "rb");
    if (!image.file)
        throw FileError(path, std::string("cannot be opened: ") +
                                  (errno != 0 ? std::strerror(errno) : "not a regular file"));
    const stSarImageInfo info = read_xml(sidecar_path(path, ".xml"));
    image.width = info.numberOfColumns;
    image.lines = info.numberOfRows;
    image.format = sample_format_of(info.imageDataType);
    struct stat st;
    if (::fstat(::fileno(image.file.get()), &st) == 0 && S_ISREG(st.st_mode))
        check_image_length(path, static_cast<long long>(st.st_size), image.width, image.lines,
                           image.format);
    return image;
}
