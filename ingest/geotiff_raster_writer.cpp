#include "ingest/geotiff_raster_writer.h"

#include "params/file_error.h"
#include "params/pending_output.h"

#include <gdal_priv.h>

namespace ingest {
namespace {

// GDAL writes the file itself, at the pending output's temporary name.
class GeoTiffRasterWriter : public RasterWriter {
public:
    GeoTiffRasterWriter(const std::string& stem, int width, int lines, RasterKind kind)
        : file_(stem + ".tif", PendingOutput::Mode::external), width_(width),
          type_(kind == RasterKind::complex64 ? GDT_CFloat32 : GDT_Float32) {
        GDALAllRegister();
        GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GTiff");
        if (driver != nullptr)
            dataset_ = driver->Create(file_.temp_path().c_str(), width, lines, 1, type_, nullptr);
        if (dataset_ == nullptr)
            throw FileError(file_.target(),
                            std::string("cannot be written: ") + CPLGetLastErrorMsg());
    }
    ~GeoTiffRasterWriter() override {
        if (dataset_ != nullptr)
            GDALClose(dataset_);
    }
    void write_row(const void* row) override {
        if (dataset_->GetRasterBand(1)->RasterIO(GF_Write, 0, row_, width_, 1,
                                                 const_cast<void*>(row), width_, 1, type_, 0,
                                                 0) != CE_None)
            throw FileError(file_.target(), std::string("write failed: ") + CPLGetLastErrorMsg());
        row_++;
    }
    void finish() override {
        GDALDataset* dataset = dataset_;
        dataset_ = nullptr;
        CPLErrorReset();
        GDALClose(dataset);
        if (CPLGetLastErrorType() >= CE_Failure)
            throw FileError(file_.target(), std::string("write failed: ") + CPLGetLastErrorMsg());
    }
    void commit() override { file_.commit(); }
    std::string path() const override { return file_.target(); }

private:
    PendingOutput file_;
    int width_;
    GDALDataType type_;
    GDALDataset* dataset_ = nullptr;
    int row_ = 0;
};

} // namespace

std::unique_ptr<RasterWriter> geotiff_raster_writer(const std::string& stem, int width, int lines,
                                                    RasterKind kind, const stSarImageInfo&) {
    return std::make_unique<GeoTiffRasterWriter>(stem, width, lines, kind);
}

} // namespace ingest
