#include "ingest/image_writer.h"
#include "ingest/radar_metadata.h"
#include "params/file_naming.h"
#include "params/gdal_sidecar.h"
#include "params/output_check.h"
#include "params/pending_output.h"
#include "params/sar_image_xml_writer.h"

#include <algorithm>
#include <cpl_port.h>
#include <cstdio>
#include <filesystem>
#include <sys/statvfs.h>
#include <vector>

namespace ingest {

namespace fs = std::filesystem;

namespace {

// Lines copied per read: a few megabytes, so any raster streams through.
constexpr long kBlockBytes = 8L << 20;

GDALDataType stored_type(GDALDataType type) {
    return type == GDT_CInt16 ? GDT_CInt16 : GDT_CFloat32;
}

// Copies blocks of whole lines, or, when one line alone exceeds the block,
// each line in pieces: the buffer never exceeds kBlockBytes, whatever the
// raster claims.
void copy_samples(const ComplexRaster& raster, GDALDataType type, PendingOutput& out) {
    const int sample_bytes = GDALGetDataTypeSizeBytes(type);
    const long line_bytes = static_cast<long>(raster.width()) * sample_bytes;
    const int block_lines = static_cast<int>(
        std::clamp(kBlockBytes / line_bytes, 1L, static_cast<long>(raster.lines())));
    const int piece = static_cast<int>(std::min<long>(raster.width(), kBlockBytes / sample_bytes));
    std::vector<unsigned char> buffer(static_cast<std::size_t>(piece) * sample_bytes * block_lines);
    for (int y = 0; y < raster.lines(); y += block_lines) {
        const int n = std::min(block_lines, raster.lines() - y);
        for (int x = 0; x < raster.width(); x += piece) {
            const int w = std::min(piece, raster.width() - x);
            raster.read(x, y, w, n, type, buffer.data());
            const std::size_t bytes = static_cast<std::size_t>(w) * sample_bytes * n;
#if !CPL_IS_LSB // the files hold little-endian parts
            GDALSwapWords(buffer.data(), sample_bytes / 2,
                          static_cast<int>(bytes * 2 / sample_bytes), sample_bytes / 2);
#endif
            out.write(buffer.data(), bytes);
        }
    }
}

// The imported image as GDAL sees it: SCOMPLEX counts scaled as the module reads them.
std::string image_vrt(const ImageImportResult& result, const std::string& source) {
    RawRasterLayout layout;
    layout.raster = result.image_path;
    layout.width = result.columns;
    layout.lines = result.rows;
    const SampleFormat format = sample_format_of(result.sample_format);
    layout.type = raw_sample_type(format);
    layout.scale = format == SampleFormat::scomplex ? 0.001 : 1.0;
    layout.description = "SLC (" + result.sample_format + ") imported from " + source;
    return gdal_vrt_text(layout);
}

std::string conversion_note(GDALDataType from) {
    const std::string name = GDALGetDataTypeName(from);
    if (from == GDT_CInt32)
        return name + " samples converted to FCOMPLEX (parts beyond 2^24 lose precision)";
    return name + " samples converted to FCOMPLEX (parts rounded to 32-bit floats)";
}

} // namespace

void check_free_space(const ComplexRaster& raster, const std::string& image_path) {
    ::check_free_space(image_path, static_cast<long double>(raster.width()) * raster.lines() *
                                       GDALGetDataTypeSizeBytes(stored_type(raster.source_type())));
}

const char* sample_format_for(GDALDataType type) {
    return stored_type(type) == GDT_CInt16 ? "SCOMPLEX" : "FCOMPLEX";
}

ImageImportResult write_image(const ComplexRaster& raster, const std::string& image_path,
                              stSarImageInfo& info) {
    ImageImportResult result;
    result.image_path = image_path;
    result.xml_path = sidecar_path(image_path, ".xml");
    result.vrt_path = gdal_vrt_path(image_path);
    check_outputs_are_not_inputs(
        {{image_path, "image"}, {result.xml_path, "image's XML"}, {result.vrt_path, "image's VRT"}},
        {{raster.path(), "source raster"}});
    result.sample_format = sample_format_for(raster.source_type());
    result.columns = raster.width();
    result.rows = raster.lines();
    const GDALDataType type = stored_type(raster.source_type());
    if (type != raster.source_type())
        result.notes.push_back(conversion_note(raster.source_type()));

    check_free_space(raster, image_path);
    PendingOutput image(image_path);
    copy_samples(raster, type, image);
    info = make_sar_image_info(result.columns, result.rows, result.sample_format);
    apply_radar_metadata(raster.metadata_items(), info, result.notes);
    PendingOutput xml(result.xml_path, PendingOutput::Mode::external);
    if (!write_sar_image_xml(xml.temp_path(), info))
        throw ImportError(result.xml_path, "cannot be written");
    PendingOutput vrt(result.vrt_path);
    const std::string vrt_text = image_vrt(result, raster.path());
    vrt.write(vrt_text.data(), vrt_text.size());
    commit_together({&image, &xml, &vrt});
    return result;
}

ImageImportResult import_image(const RasterSource& source, const std::string& image_path,
                               Progress* progress) {
    const QuietGdalErrors quiet;
    const ComplexRaster raster(source, progress);
    stSarImageInfo info;
    return write_image(raster, image_path, info);
}

} // namespace ingest
