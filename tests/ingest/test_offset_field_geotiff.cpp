// The dense offset tracker's field as the resampler reads it back.
#include "ingest/offset_field_geotiff.h"
#include "params/file_error.h"
#include "tests/support/offset_field_tiff.h"
#include "tests/support/scratch.h"

#include <cmath>
#include <functional>
#include <limits>

namespace {

using namespace scratch;

OffsetField small_field() {
    const double range[6] = {2.5, 1e-3, 0, 0, 0, 0}, azimuth[6] = {-1.0, 0, 2e-3, 0, 0, 0};
    OffsetField f = sampled_field(range, azimuth, 12.5, 32.0, 5, 3);
    f.stepAzimuth = 40.0;
    f.range[f.index(1, 2)] = std::numeric_limits<float>::quiet_NaN();
    return f;
}

// Opens path for update and hands the dataset to change.
template <class Change> void edit(const std::string& path, Change change) {
    GDALDatasetH d = GDALOpen(path.c_str(), GA_Update);
    ASSERT_NE(d, nullptr);
    change(d);
    GDALClose(d);
}

TEST(OffsetFieldGeotiff, ReadsBackWhatTheTrackerWrote) {
    const std::string path = fresh_test_dir() + "/field.tif";
    const OffsetField written = small_field();
    ASSERT_TRUE(write_field_geotiff(path, written));
    const OffsetField read = read_offset_field_geotiff(path);
    EXPECT_EQ(read.columns, 5);
    EXPECT_EQ(read.rows, 3);
    EXPECT_EQ(read.firstRange, 12.5);
    EXPECT_EQ(read.firstAzimuth, 12.5);
    EXPECT_EQ(read.stepRange, 32.0);
    EXPECT_EQ(read.stepAzimuth, 40.0);
    ASSERT_EQ(read.range.size(), written.cells());
    EXPECT_TRUE(std::isnan(read.range[read.index(1, 2)]));
    for (std::size_t i = 0; i < written.cells(); i++) {
        EXPECT_TRUE(read.range[i] == written.range[i] || std::isnan(written.range[i])) << i;
        EXPECT_EQ(read.azimuth[i], written.azimuth[i]) << i;
    }
}

TEST(OffsetFieldGeotiff, WhatIsMissingIsOneErrorNamingTheFile) {
    const std::string dir = fresh_test_dir();
    const struct {
        const char* what;
        std::function<void(GDALDatasetH)> change;
        const char* part;
    } rows[] = {
        {"no azimuth band",
         [](GDALDatasetH d) { GDALSetDescription(GDALGetRasterBand(d, 2), "other"); },
         "has no band described \"azimuth_offset\""},
        {"no step",
         [](GDALDatasetH d) { GDALSetMetadataItem(d, "STEP_AZIMUTH", nullptr, nullptr); },
         "has no metadata item STEP_AZIMUTH"},
        {"a step that is no number",
         [](GDALDatasetH d) { GDALSetMetadataItem(d, "STEP_RANGE", "32 samples", nullptr); },
         "metadata item STEP_RANGE is not a number: '32 samples'"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string path = dir + "/field.tif";
        ASSERT_TRUE(write_field_geotiff(path, small_field()));
        edit(path, row.change);
        try {
            read_offset_field_geotiff(path);
            ADD_FAILURE() << "read";
        } catch (const FileError& e) {
            EXPECT_EQ(e.file(), path);
            EXPECT_NE(std::string(e.what()).find(row.part), std::string::npos) << e.what();
        }
    }
    EXPECT_THROW(read_offset_field_geotiff(dir + "/none.tif"), FileError);
}

} // namespace
