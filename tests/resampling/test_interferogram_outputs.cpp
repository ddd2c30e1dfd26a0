// The interferogram's files: raw with XML or GeoTIFF, the same values as the
// in-memory computation; progress from 0 to 100.
#include "ingest/geotiff_raster_writer.h"
#include "resampling/interferogram.h"
#include "resampling/interferogram_file.h"
#include "tests/support/scratch.h"

#include <complex>
#include <gdal_priv.h>

namespace {

using namespace scratch;
using cf = std::complex<float>;

constexpr int kWidth = 23, kLines = 17;

std::vector<cf> pattern(float a) {
    std::vector<cf> v(kWidth * kLines);
    for (int i = 0; i < kWidth * kLines; i++)
        v[i] = cf(std::cos(a * i), std::sin(0.3f * i * i));
    return v;
}

void write_image(const std::string& path, const std::vector<cf>& v) {
    write_bytes(path, std::string(reinterpret_cast<const char*>(v.data()), v.size() * 8));
    write_sar_image_xml(image_xml_path(path), make_sar_image_info(kWidth, kLines, "FCOMPLEX"));
}

struct Recorder : Progress {
    std::vector<double> seen;
    void progress(double percent) override { seen.push_back(percent); }
};

class InterferogramOutputs : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fresh_test_dir();
        write_image(dir + "/m.slc", m);
        write_image(dir + "/s.slc", s);
        interferogram_arrays(m.data(), s.data(), kLines, kWidth, 4, 3, ifg.data(),
                             coherence.data());
    }
    InterferogramFileResult run(const RasterWriterFactory& writers, Recorder* progress) {
        return interferogram_file({dir + "/m.slc", dir + "/s.slc", 4, 3, dir}, writers, progress);
    }
    std::string dir;
    std::vector<cf> m = pattern(0.7f), s = pattern(0.71f);
    std::vector<cf> ifg = std::vector<cf>(4 * 7);
    std::vector<float> coherence = std::vector<float>(4 * 7);
};

TEST_F(InterferogramOutputs, RawFilesHoldTheArraysValuesWithXml) {
    Recorder progress;
    const InterferogramFileResult r = run(raw_raster_writer, &progress);
    EXPECT_EQ(r.lines, 4);
    EXPECT_EQ(r.samples, 7);
    EXPECT_EQ(read_bytes(dir + "/interferogram"),
              std::string(reinterpret_cast<const char*>(ifg.data()), ifg.size() * 8));
    EXPECT_EQ(read_bytes(dir + "/coherence"),
              std::string(reinterpret_cast<const char*>(coherence.data()), coherence.size() * 4));
    stSarImageInfo info;
    ASSERT_TRUE(read_sar_image_xml(dir + "/coherence.xml", info));
    EXPECT_EQ(info.numberOfColumns, 7);
    EXPECT_EQ(info.azimuthLooks, 4);
    EXPECT_EQ(info.imageDataType, "FLOAT");
    ASSERT_FALSE(progress.seen.empty());
    EXPECT_EQ(progress.seen.front(), 0.0);
    EXPECT_EQ(progress.seen.back(), 100.0);
    EXPECT_TRUE(std::is_sorted(progress.seen.begin(), progress.seen.end()));
}

TEST_F(InterferogramOutputs, GeoTiffsHoldTheSameValues) {
    const InterferogramFileResult r = run(ingest::geotiff_raster_writer, nullptr);
    EXPECT_EQ(r.coherence, dir + "/coherence.tif");
    GDALAllRegister();
    GDALDataset* tif = static_cast<GDALDataset*>(GDALOpen(r.coherence.c_str(), GA_ReadOnly));
    ASSERT_NE(tif, nullptr);
    EXPECT_EQ(tif->GetRasterXSize(), 7);
    EXPECT_EQ(tif->GetRasterYSize(), 4);
    std::vector<float> back(coherence.size());
    EXPECT_EQ(
        tif->GetRasterBand(1)->RasterIO(GF_Read, 0, 0, 7, 4, back.data(), 7, 4, GDT_Float32, 0, 0),
        CE_None);
    GDALClose(tif);
    EXPECT_EQ(back, coherence);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 6);
}

} // namespace
