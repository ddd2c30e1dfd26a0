#include "params/sar_image_xml_writer.h"
#include "resampling/pending_output.h"
#include "resampling/raster_writer.h"
#include "resampling/resample_error.h"

#include <cstdio>

namespace {

class RawRasterWriter : public RasterWriter {
public:
    RawRasterWriter(const std::string& stem, int width, int lines, RasterKind kind,
                    const stSarImageInfo& geometry)
        : data_(stem), xml_(stem + ".xml"), xml_temp_(temporary_name(xml_)),
          row_bytes_(static_cast<std::size_t>(width) * (kind == RasterKind::complex64 ? 8 : 4)) {
        info_ = std::make_unique<stSarImageInfo>(geometry);
        info_->numberOfColumns = width;
        info_->numberOfRows = lines;
        info_->imageDataType = kind == RasterKind::complex64 ? "FCOMPLEX" : "FLOAT";
    }
    ~RawRasterWriter() override {
        if (!committed_)
            std::remove(xml_temp_.c_str());
    }
    void write_row(const void* row) override { data_.write(row, row_bytes_); }
    void finish() override {
        data_.close();
        if (!write_sar_image_xml(xml_temp_, *info_))
            throw ResampleError("cannot write " + xml_);
    }
    void commit() override {
        data_.commit();
        if (std::rename(xml_temp_.c_str(), xml_.c_str()) != 0)
            throw ResampleError("cannot write " + xml_);
        committed_ = true;
    }
    std::string path() const override { return data_.target(); }

private:
    PendingOutput data_;
    std::string xml_, xml_temp_;
    std::size_t row_bytes_;
    std::unique_ptr<stSarImageInfo> info_;
    bool committed_ = false;
};

} // namespace

std::unique_ptr<RasterWriter> raw_raster_writer(const std::string& stem, int width, int lines,
                                                RasterKind kind, const stSarImageInfo& geometry) {
    return std::make_unique<RawRasterWriter>(stem, width, lines, kind, geometry);
}
