#include "params/file_error.h"
#include "params/file_naming.h"
#include "params/gdal_sidecar.h"
#include "params/pending_output.h"
#include "params/sample_bytes.h"
#include "params/sar_image_xml_writer.h"
#include "resampling/raster_writer.h"

#include <vector>

namespace {

// What GDAL is told of the raster: the band named after the file, with the
// looks its geometry carries; 0 (a cell without signal) is no-data.
RawRasterLayout layout_of(const std::string& stem, const stSarImageInfo& info, RasterKind kind) {
    RawRasterLayout layout;
    layout.raster = stem;
    layout.width = info.numberOfColumns;
    layout.lines = info.numberOfRows;
    layout.type = kind == RasterKind::complex64 ? RawSampleType::cfloat32 : RawSampleType::float32;
    const auto slash = stem.rfind('/');
    layout.description = (slash == std::string::npos ? stem : stem.substr(slash + 1)) + ", " +
                         std::to_string(info.azimuthLooks) + " x " +
                         std::to_string(info.rangeLooks) + " looks (azimuth x range)";
    layout.has_nodata = true;
    return layout;
}

class RawRasterWriter : public RasterWriter {
public:
    RawRasterWriter(const std::string& stem, int width, int lines, RasterKind kind,
                    const stSarImageInfo& geometry)
        : data_(stem), xml_(sidecar_path(stem, ".xml"), PendingOutput::Mode::external),
          vrt_(gdal_vrt_path(stem)),
          row_floats_(static_cast<std::size_t>(width) * (kind == RasterKind::complex64 ? 2 : 1)),
          row_bytes_(row_floats_ * 4), kind_(kind) {
        info_ = std::make_unique<stSarImageInfo>(geometry);
        info_->numberOfColumns = width;
        info_->numberOfRows = lines;
        info_->imageDataType = kind == RasterKind::complex64 ? "FCOMPLEX" : "FLOAT";
    }
    // Little-endian whatever the machine, as the XML and the VRT say.
    void write_row(const void* row) override {
        const auto* values = static_cast<const float*>(row);
        for (std::size_t i = 0; i < row_floats_; i++)
            put_le32(&row_bytes_[i * 4], values[i]);
        data_.write(row_bytes_.data(), row_bytes_.size());
    }
    void finish() override {
        data_.close();
        if (!write_sar_image_xml(xml_.temp_path(), *info_))
            throw FileError(xml_.target(), "cannot be written");
        const std::string vrt = gdal_vrt_text(layout_of(data_.target(), *info_, kind_));
        vrt_.write(vrt.data(), vrt.size());
    }
    void commit() override { commit_together({&data_, &xml_, &vrt_}); }
    std::string path() const override { return data_.target(); }

private:
    PendingOutput data_;
    PendingOutput xml_;
    PendingOutput vrt_;
    std::size_t row_floats_;
    std::vector<unsigned char> row_bytes_;
    RasterKind kind_;
    std::unique_ptr<stSarImageInfo> info_;
};

} // namespace

std::unique_ptr<RasterWriter> raw_raster_writer(const std::string& stem, int width, int lines,
                                                RasterKind kind, const stSarImageInfo& geometry) {
    return std::make_unique<RawRasterWriter>(stem, width, lines, kind, geometry);
}
