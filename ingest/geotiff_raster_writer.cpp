#include "ingest/geotiff_raster_writer.h"

#include "resampling/pending_output.h"
#include "resampling/resample_error.h"

#include <cstdio>
#include <gdal_priv.h>

namespace ingest {
namespace {

class GeoTiffRasterWriter : public RasterWriter {
public:
    GeoTiffRasterWriter(const std::string& stem, int width, int lines, RasterKind kind)
        : target_(stem + ".tif"), temp_(temporary_name(target_)), width_(width),
          type_(kind == RasterKind::complex64 ? GDT_CFloat32 : GDT_Float32) {
        GDALAllRegister();
        GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GTiff");
        if (driver != nullptr)
            dataset_ = driver->Create(temp_.c_str(), width, lines, 1, type_, nullptr);
        if (dataset_ == nullptr)
            throw ResampleError("cannot create " + target_ + ": " + CPLGetLastErrorMsg());
    }
    ~GeoTiffRasterWriter() override {
        if (dataset_ != nullptr)
            GDALClose(dataset_);
        if (!committed_)
            std::remove(temp_.c_str());
    }
    void write_row(const void* row) override {
        if (dataset_->GetRasterBand(1)->RasterIO(GF_Write, 0, row_, width_, 1,
                                                 const_cast<void*>(row), width_, 1, type_, 0,
                                                 0) != CE_None)
            throw ResampleError("cannot write " + target_ + ": " + CPLGetLastErrorMsg());
        row_++;
    }
    void finish() override {
        GDALDataset* dataset = dataset_;
        dataset_ = nullptr;
        CPLErrorReset();
        GDALClose(dataset);
        if (CPLGetLastErrorType() >= CE_Failure)
            throw ResampleError("cannot write " + target_ + ": " + CPLGetLastErrorMsg());
    }
    void commit() override {
        if (std::rename(temp_.c_str(), target_.c_str()) != 0)
            throw ResampleError("cannot write " + target_);
        committed_ = true;
    }
    std::string path() const override { return target_; }

private:
    std::string target_, temp_;
    int width_;
    GDALDataType type_;
    GDALDataset* dataset_ = nullptr;
    int row_ = 0;
    bool committed_ = false;
};

} // namespace

std::unique_ptr<RasterWriter> geotiff_raster_writer(const std::string& stem, int width, int lines,
                                                    RasterKind kind, const stSarImageInfo&) {
    return std::make_unique<GeoTiffRasterWriter>(stem, width, lines, kind);
}

} // namespace ingest
