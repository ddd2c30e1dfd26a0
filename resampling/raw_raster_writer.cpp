#include "params/file_error.h"
#include "params/file_naming.h"
#include "params/pending_output.h"
#include "params/sar_image_xml_writer.h"
#include "resampling/raster_writer.h"

namespace {

class RawRasterWriter : public RasterWriter {
public:
    RawRasterWriter(const std::string& stem, int width, int lines, RasterKind kind,
                    const stSarImageInfo& geometry)
        : data_(stem), xml_(sidecar_path(stem, ".xml"), PendingOutput::Mode::external),
          row_bytes_(static_cast<std::size_t>(width) * (kind == RasterKind::complex64 ? 8 : 4)) {
        info_ = std::make_unique<stSarImageInfo>(geometry);
        info_->numberOfColumns = width;
        info_->numberOfRows = lines;
        info_->imageDataType = kind == RasterKind::complex64 ? "FCOMPLEX" : "FLOAT";
    }
    void write_row(const void* row) override { data_.write(row, row_bytes_); }
    void finish() override {
        data_.close();
        if (!write_sar_image_xml(xml_.temp_path(), *info_))
            throw FileError(xml_.target(), "cannot be written");
    }
    void commit() override { commit_together({&data_, &xml_}); }
    std::string path() const override { return data_.target(); }

private:
    PendingOutput data_;
    PendingOutput xml_;
    std::size_t row_bytes_;
    std::unique_ptr<stSarImageInfo> info_;
};

} // namespace

std::unique_ptr<RasterWriter> raw_raster_writer(const std::string& stem, int width, int lines,
                                                RasterKind kind, const stSarImageInfo& geometry) {
    return std::make_unique<RawRasterWriter>(stem, width, lines, kind, geometry);
}
