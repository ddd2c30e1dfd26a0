#include "ingest/image_writer.h"
#include "ingest/pending_file.h"
#include "ingest/radar_metadata.h"
#include "params/file_naming.h"
#include "params/sar_image_xml_writer.h"

#include <algorithm>
#include <cpl_port.h>
#include <cstdio>
#include <vector>

namespace ingest {

namespace {

// Lines copied per read: a few megabytes, so any raster streams through.
constexpr long kBlockBytes = 8L << 20;

GDALDataType stored_type(GDALDataType type) {
    return type == GDT_CInt16 ? GDT_CInt16 : GDT_CFloat32;
}

void copy_samples(const ComplexRaster& raster, GDALDataType type, PendingFile& out) {
    const int part_bytes = GDALGetDataTypeSizeBytes(type) / 2;
    const long line_bytes = static_cast<long>(raster.width()) * 2 * part_bytes;
    const int block_lines = static_cast<int>(
        std::clamp(kBlockBytes / line_bytes, 1L, static_cast<long>(raster.lines())));
    std::vector<unsigned char> buffer(static_cast<std::size_t>(line_bytes) * block_lines);
    for (int y = 0; y < raster.lines(); y += block_lines) {
        const int n = std::min(block_lines, raster.lines() - y);
        raster.read(0, y, raster.width(), n, type, buffer.data());
        const std::size_t bytes = static_cast<std::size_t>(line_bytes) * n;
#if !CPL_IS_LSB // the files hold little-endian parts
        GDALSwapWords(buffer.data(), part_bytes, static_cast<int>(bytes / part_bytes), part_bytes);
#endif
        out.write(buffer.data(), bytes);
    }
}

std::string conversion_note(GDALDataType from) {
    const std::string name = GDALGetDataTypeName(from);
    if (from == GDT_CInt32)
        return name + " samples converted to FCOMPLEX (parts beyond 2^24 lose precision)";
    return name + " samples converted to FCOMPLEX (parts rounded to 32-bit floats)";
}

} // namespace

const char* sample_format_for(GDALDataType type) {
    return stored_type(type) == GDT_CInt16 ? "SCOMPLEX" : "FCOMPLEX";
}

ImageImportResult write_image(const ComplexRaster& raster, const std::string& image_path,
                              stSarImageInfo& info) {
    ImageImportResult result;
    result.image_path = image_path;
    result.xml_path = image_xml_path(image_path);
    if (result.xml_path == image_path)
        throw ImportError(image_path, "the image would be its own XML parameter file; "
                                      "choose a name not ending in .xml");
    result.sample_format = sample_format_for(raster.source_type());
    result.columns = raster.width();
    result.rows = raster.lines();
    const GDALDataType type = stored_type(raster.source_type());
    if (type != raster.source_type())
        result.notes.push_back(conversion_note(raster.source_type()));

    PendingFile image(image_path);
    copy_samples(raster, type, image);
    info = make_sar_image_info(result.columns, result.rows, result.sample_format);
    apply_radar_metadata(raster.metadata_items(), info, result.notes);
    PendingFile xml(result.xml_path);
    xml.close();
    if (!write_sar_image_xml(xml.temp_path(), info))
        throw ImportError(result.xml_path, "cannot be written");
    image.commit();
    try {
        xml.commit();
    } catch (...) {
        std::remove(image_path.c_str());
        throw;
    }
    return result;
}

ImageImportResult import_image(const RasterSource& source, const std::string& image_path) {
    const QuietGdalErrors quiet;
    const ComplexRaster raster(source);
    stSarImageInfo info;
    return write_image(raster, image_path, info);
}

} // namespace ingest
