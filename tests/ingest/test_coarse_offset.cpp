// The coarse offset on a real Sentinel-1 pair: cropping one image by whole
// samples and lines gives an exact integer offset on real speckle.
#include "ingest/ingest.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace {

const std::string kDir = std::string(FC_REAL_DATA_DIR) + "/s1_amsterdam/";
const std::string kRef = kDir + "s1a_iw3_vv_20230331_ref.slc";
const std::string kSec = kDir + "s1a_iw3_vv_20230319_sec_coreg.slc";

TEST(CoarseOffsetRealPair, RecoversTheCropOffsetExactly) {
    if (!std::filesystem::exists(kRef) || !std::filesystem::exists(kSec))
        GTEST_SKIP() << "real data not found under " << kDir;
    const ingest::Window crop{7, 3, 331, 81}; // of 338 x 84
    const struct {
        const char* what;
        ingest::RasterSource master, slave;
        ingest::IntegerOffset expected; // slave position = master position + offset
    } cases[] = {
        {"master cropped", {kRef, 1, crop}, {kSec}, {7, 3}},
        {"slave cropped", {kRef}, {kSec, 1, crop}, {-7, -3}},
        {"co-registered pair", {kRef}, {kSec}, {0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const ingest::CoarseOffsetEstimate e = ingest::estimate_coarse_offset(c.master, c.slave);
        EXPECT_EQ(e.offset.range, c.expected.range);
        EXPECT_EQ(e.offset.azimuth, c.expected.azimuth);
        EXPECT_GT(e.correlation, 0.5); // coherence of the pair is about 0.77
    }
}

} // namespace
