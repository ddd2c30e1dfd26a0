// Stage 1 on crops of real SLC pairs. The data lives outside the project and
// users do not have it: every test skips when it is absent.
#include "run_fixture.h"

#include <cmath>
#include <gtest/gtest.h>

namespace {

const std::string kData = FC_REAL_DATA_DIR;

std::vector<fcomplex> load(const std::string& path) {
    return read_complex_file(path);
}

// Crops whole samples and lines off the start of a line-major image.
std::vector<fcomplex> crop(const std::vector<fcomplex>& image, int width, int lines, int dx,
                           int dy) {
    std::vector<fcomplex> out;
    for (int y = dy; y < lines; y++)
        for (int x = dx; x < width; x++)
            out.push_back(image[static_cast<std::size_t>(y) * width + x]);
    return out;
}

struct StageOneResult {
    bool ok = false;
    std::vector<fcomplex> offsets;
    std::vector<float> snr;
};

StageOneResult run_stage_one(const std::string& dir, const std::vector<fcomplex>& master, int w1,
                             int l1, const std::vector<fcomplex>& slave, int w2, int l2, int nr,
                             int na, double threshold) {
    const std::string m = dir + "/master.slc", s = dir + "/slave.slc", off = dir + "/pair.off";
    EXPECT_TRUE(write_complex_image(m, master));
    EXPECT_TRUE(write_complex_image(s, slave));
    EXPECT_TRUE(write_image_xml(m, w1, l1, "FCOMPLEX"));
    EXPECT_TRUE(write_image_xml(s, w2, l2, "FCOMPLEX"));
    EXPECT_TRUE(write_coarse_offset_file(off, 0, 0));

    stFineCoregistrationInfo info = run_record(m, s, off, 64, nr, na, threshold);
    std::string offs = dir + "/Temp_1_offs", snr = dir + "/Temp_1_snr",
                listing = dir + "/Temp_1_offsets.txt";
    RecordingCoregistration algo;
    StageOneResult r;
    r.ok = FineCoregistrationTestAccess::offset_pwr(algo, info, offs, snr, listing);
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
};

TEST_F(RealData, AmsterdamCoregisteredPairGivesOffsetsNearZero) {
    const std::string a = kData + "/s1_amsterdam/";
    const auto ref = load(a + "s1a_iw3_vv_20230331_ref.slc");
    const auto sec = load(a + "s1a_iw3_vv_20230319_sec_coreg.slc");
    ASSERT_EQ(ref.size(), 338u * 84u);
    const auto r = run_stage_one(make_test_dir("amsterdam"), ref, 338, 84, sec, 338, 84, 5, 1, 3.0);
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.offsets.size(), 5u);
    int accepted = 0;
    for (std::size_t j = 0; j < r.offsets.size(); j++) {
        if (r.offsets[j].re == 0.0f)
            continue;
        accepted++;
        EXPECT_NEAR(r.offsets[j].re, 0.0, 0.1) << "window " << j << " snr " << r.snr[j];
        EXPECT_NEAR(r.offsets[j].im, 0.0, 0.1) << "window " << j << " snr " << r.snr[j];
    }
    EXPECT_GE(accepted, 4);
}

TEST_F(RealData, AmsterdamSlaveCroppedByWholeSamplesRecoversTheShift) {
    const std::string a = kData + "/s1_amsterdam/";
    const auto ref = load(a + "s1a_iw3_vv_20230331_ref.slc");
    const auto sec = load(a + "s1a_iw3_vv_20230319_sec_coreg.slc");
    // Dropping 3 samples and 2 lines moves every feature of the slave to a
    // position 3 samples and 2 lines lower: offset (-3, -2).
    const auto cropped = crop(sec, 338, 84, 3, 2);
    const auto r =
        run_stage_one(make_test_dir("amsterdam_crop"), ref, 338, 84, cropped, 335, 82, 5, 1, 3.0);
    ASSERT_TRUE(r.ok);
    int accepted = 0;
    for (std::size_t j = 0; j < r.offsets.size(); j++) {
        if (r.offsets[j].re == 0.0f)
            continue;
        accepted++;
        EXPECT_NEAR(r.offsets[j].re, -3.0, 0.1) << "window " << j;
        EXPECT_NEAR(r.offsets[j].im, -2.0, 0.1) << "window " << j;
    }
    EXPECT_GE(accepted, 4);
}

TEST_F(RealData, WinnipegIdentityPairGivesZeroOffsets) {
    const std::string w = kData + "/winnipeg/";
    const auto master = load(w + "winnipeg_freqA_HH.slc");
    const auto warped = load(w + "warped_winnipeg.slc");
    ASSERT_EQ(master.size(), 250u * 250u);
    const auto r =
        run_stage_one(make_test_dir("winnipeg"), master, 250, 250, warped, 250, 250, 3, 3, 3.0);
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.offsets.size(), 9u);
    // The interiors are bit-identical; one window lies on a dark, nearly
    // featureless area and peaks with an SNR of about 5 only.
    for (std::size_t k = 0; k < 9; k++) {
        EXPECT_GT(r.snr[k], 3.0f) << "position " << k;
        EXPECT_NEAR(r.offsets[k].re, 0.0, 0.02) << "position " << k;
        EXPECT_NEAR(r.offsets[k].im, 0.0, 0.02) << "position " << k;
    }
}

TEST_F(RealData, WinnipegZeroBorderWindowsAreSkippedAsNoData) {
    // The grid's 48-sample margin keeps every window off a 4-sample border,
    // so both images get a wider no-data border, as scenes often have: 20
    // zero lines and samples in front. The first row and column of windows
    // then cover 4 padded plus 4 warped-border zero lines (or samples): 512
    // zeros, more than 1/16 of the window, so they are not correlated.
    const std::string w = kData + "/winnipeg/";
    const auto master = load(w + "winnipeg_freqA_HH.slc");
    const auto warped = load(w + "warped_winnipeg.slc");
    const int pad = 20, side = 250 + pad;
    auto padded = [&](const std::vector<fcomplex>& image) {
        std::vector<fcomplex> out(static_cast<std::size_t>(side) * side, fcomplex{0.0f, 0.0f});
        for (int y = 0; y < 250; y++)
            for (int x = 0; x < 250; x++)
                out[static_cast<std::size_t>(y + pad) * side + x + pad] = image[y * 250 + x];
        return out;
    };
    const auto r = run_stage_one(make_test_dir("winnipeg_border"), padded(master), side, side,
                                 padded(warped), side, side, 3, 3, 3.0);
    ASSERT_TRUE(r.ok);
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++) {
            const fcomplex o = r.offsets[i * 3 + j];
            if (i == 0 || j == 0) {
                EXPECT_EQ(r.snr[i * 3 + j], 0.0f) << "position " << i << "," << j;
                EXPECT_EQ(o.re, 0.0f);
                EXPECT_EQ(o.im, 0.0f);
            } else {
                EXPECT_GT(r.snr[i * 3 + j], 3.0f) << "position " << i << "," << j;
                EXPECT_NEAR(o.re, 0.0, 0.02);
                EXPECT_NEAR(o.im, 0.0, 0.02);
            }
        }
}

} // namespace
