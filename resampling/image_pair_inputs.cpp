#include "resampling/image_pair_inputs.h"

#include "params/file_naming.h"
#include "resampling/resample_error.h"

#include <exception>

std::unique_ptr<stSarImageInfo> read_image_info(const std::string& image_path) {
    const std::string xml = image_xml_path(image_path);
    auto info = std::make_unique<stSarImageInfo>();
    bool ok = false;
    try {
        ok = read_sar_image_xml(xml, *info);
    } catch (const std::exception& e) {
        throw ResampleError("cannot read image parameter file " + xml + ": " + e.what());
    }
    if (!ok)
        throw ResampleError("cannot read image parameter file " + xml);
    if (info->numberOfColumns <= 0 || info->numberOfRows <= 0)
        throw ResampleError("image parameter file " + xml + " describes no raster (" +
                            std::to_string(info->numberOfColumns) + " x " +
                            std::to_string(info->numberOfRows) + ")");
    return info;
}
