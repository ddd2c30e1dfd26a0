#include "params/image_info.h"

#include "params/file_error.h"
#include "params/file_naming.h"

#include <exception>

std::unique_ptr<stSarImageInfo> read_image_info(const std::string& image_path) {
    const std::string xml = sidecar_path(image_path, ".xml");
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
    return info;
}
