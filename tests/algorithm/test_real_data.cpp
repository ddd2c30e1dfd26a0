// Stage 1 on crops of real SLC pairs. The data lives outside the project and
// users do not have it: every test skips when it is absent.
#include "run_fixture.h"

#include <cmath>
#include <gtest/gtest.h>

namespace {

const std::string kData = FC_REAL_DATA_DIR;

struct Image {
    std::vector<fcomplex> samples;
    int width, lines;
};

// The part of an image from sample x0 and line y0 on, with a border of pad
// zero samples and lines in front.
Image cut(const Image& image, int x0, int y0, int pad = 0) {
    Image out{{}, image.width - x0 + pad, image.lines - y0 + pad};
    out.samples.assign(static_cast<std::size_t>(out.width) * out.lines, fcomplex{0.0f, 0.0f});
    for (int y = y0; y < image.lines; y++)
        for (int x = x0; x < image.width; x++)
            out.samples[static_cast<std::size_t>(y - y0 + pad) * out.width + x - x0 + pad] =
                image.samples[static_cast<std::size_t>(y) * image.width + x];
    return out;
}

struct StageOneResult {
    bool ok = false;
    std::vector<fcomplex> offsets;
    std::vector<float> snr;
};

// Stage 1 with 64 x 64 windows on an nr x na grid, no coarse offset.
StageOneResult run_stage_one(const std::string& name, const Image& master, const Image& slave,
                             int nr, int na) {
    const std::string dir = make_test_dir(name);
    const std::string m = dir + "/master.slc", s = dir + "/slave.slc", off = dir + "/pair.off";
    EXPECT_TRUE(write_complex_image(m, master.samples));
    EXPECT_TRUE(write_complex_image(s, slave.samples));
    EXPECT_TRUE(write_image_xml(m, master.width, master.lines, "FCOMPLEX"));
    EXPECT_TRUE(write_image_xml(s, slave.width, slave.lines, "FCOMPLEX"));
    EXPECT_TRUE(write_coarse_offset_file(off, 0, 0));

    stFineCoregistrationInfo info = run_record(m, s, off, 64, nr, na, 3.0);
    std::string offs = dir + "/Temp_1_offs", snr = dir + "/Temp_1_snr",
                listing = dir + "/Temp_1_offsets.txt";
    RecordingCoregistration algo;
    StageOneResult r;
    ::testing::internal::CaptureStdout();
    r.ok = FineCoregistrationTestAccess::offset_pwr(algo, info, offs, snr, listing);
    ::testing::internal::GetCapturedStdout();
    r.offsets = read_complex_file(offs);
    r.snr = read_float_file(snr);
    return r;
}

class RealData : public ::testing::Test {
protected:
    void SetUp() override {
        if (!file_exists(kData + "/README.md"))
            GTEST_SKIP() << "real SLC data not present at " << kData;
    }
    Image load(const std::string& path, int width, int lines) {
        Image image{read_complex_file(kData + path), width, lines};
        EXPECT_EQ(image.samples.size(), static_cast<std::size_t>(width) * lines) << path;
        return image;
    }
};

TEST_F(RealData, AmsterdamPairGivesTheShiftOfACrop) {
    const Image ref = load("/s1_amsterdam/s1a_iw3_vv_20230331_ref.slc", 338, 84);
    const Image sec = load("/s1_amsterdam/s1a_iw3_vv_20230319_sec_coreg.slc", 338, 84);
    // The pair is co-registered. Dropping 3 samples and 2 lines of the slave
    // moves every feature 3 samples and 2 lines lower: offset (-3, -2).
    for (const auto& [dx, dy] : {std::pair<int, int>{0, 0}, {3, 2}}) {
        const StageOneResult r = run_stage_one("amsterdam", ref, cut(sec, dx, dy), 5, 1);
        ASSERT_TRUE(r.ok);
        ASSERT_EQ(r.offsets.size(), 5u);
        int accepted = 0;
        for (std::size_t j = 0; j < r.offsets.size(); j++) {
            if (r.offsets[j].re == 0.0f)
                continue;
            accepted++;
            EXPECT_NEAR(r.offsets[j].re, -dx, 0.1) << "window " << j << " snr " << r.snr[j];
            EXPECT_NEAR(r.offsets[j].im, -dy, 0.1) << "window " << j << " snr " << r.snr[j];
        }
        EXPECT_GE(accepted, 4) << dx << ", " << dy;
    }
}

// The interiors of the Winnipeg pair are bit-identical; one window lies on a
// dark, nearly featureless area and peaks with an SNR of about 5 only. With
// a 20-sample zero border in front of both images, as scenes often have, the
// first row and column of windows cover 4 padded plus 4 warped-border zero
// lines (or samples): 512 zeros, more than 1/16 of the window, so they are
// not correlated. (The grid's 48-sample margin keeps windows off a thinner
// border.)
TEST_F(RealData, WinnipegIdentityPairGivesZeroOffsetsExceptOnNoData) {
    const Image master = load("/winnipeg/winnipeg_freqA_HH.slc", 250, 250);
    const Image warped = load("/winnipeg/warped_winnipeg.slc", 250, 250);
    for (const int pad : {0, 20}) {
        const StageOneResult r =
            run_stage_one("winnipeg", cut(master, 0, 0, pad), cut(warped, 0, 0, pad), 3, 3);
        ASSERT_TRUE(r.ok);
        ASSERT_EQ(r.offsets.size(), 9u);
        for (int k = 0; k < 9; k++) {
            const bool noData = pad > 0 && (k < 3 || k % 3 == 0);
            EXPECT_EQ(r.snr[k] == 0.0f, noData) << "pad " << pad << " position " << k;
            EXPECT_EQ(r.snr[k] > 3.0f, !noData) << "pad " << pad << " position " << k;
            EXPECT_NEAR(r.offsets[k].re, 0.0, noData ? 0.0 : 0.02) << "position " << k;
            EXPECT_NEAR(r.offsets[k].im, 0.0, noData ? 0.0 : 0.02) << "position " << k;
        }
    }
}

} // namespace
