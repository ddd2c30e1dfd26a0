#pragma once

// Synthetic SLC pairs for the stage and run tests: both images are cut from
// one speckle field, the slave displaced by whole samples and lines, so the
// patches correlate exactly and the true offsets are known.
#include "run_fixture.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>

// Circular complex Gaussian speckle, the same for the same seed.
class SpeckleField {
public:
    SpeckleField(int width, int lines, unsigned seed)
        : width_(width), samples_(static_cast<std::size_t>(width) * lines) {
        std::mt19937 generator(seed);
        std::normal_distribution<float> gauss(0.0f, 1.0f);
        std::vector<fcomplex> white(samples_.size());
        for (fcomplex& s : white)
            s = {gauss(generator), gauss(generator)};
        // A [1 2 1] / 4 low-pass in both directions (circular): band-limited
        // like a real scene, so the correlation peak spans several samples.
        auto w = [&](int x, int y) {
            return white[static_cast<std::size_t>((y + lines) % lines) * width +
                         (x + width) % width];
        };
        for (int y = 0; y < lines; y++)
            for (int x = 0; x < width; x++) {
                float re = 0.0f, im = 0.0f;
                for (int a = -1; a <= 1; a++)
                    for (int b = -1; b <= 1; b++) {
                        const float k = (a == 0 ? 0.5f : 0.25f) * (b == 0 ? 0.5f : 0.25f);
                        re += k * w(x + b, y + a).re;
                        im += k * w(x + b, y + a).im;
                    }
                samples_[static_cast<std::size_t>(y) * width + x] = {re, im};
            }
    }
    fcomplex at(int x, int y) const { return samples_[static_cast<std::size_t>(y) * width_ + x]; }

private:
    int width_;
    std::vector<fcomplex> samples_;
};

// Field margin around both images: displacements up to this are possible.
constexpr int kFieldPad = 64;

// The raw bytes of `width` samples of field line y + kFieldPad from x0 +
// kFieldPad on: FCOMPLEX floats, or SCOMPLEX 16-bit integers of value x 1000.
inline std::string field_line_bytes(const SpeckleField& field, int x0, int y, int width,
                                    bool scomplex) {
    std::string bytes(static_cast<std::size_t>(width) * (scomplex ? 4 : 8), '\0');
    for (int x = 0; x < width; x++) {
        const fcomplex v = field.at(x0 + x + kFieldPad, y + kFieldPad);
        if (scomplex) {
            const std::int16_t parts[2] = {static_cast<std::int16_t>(std::lround(v.re * 1000.0f)),
                                           static_cast<std::int16_t>(std::lround(v.im * 1000.0f))};
            std::memcpy(&bytes[static_cast<std::size_t>(x) * 4], parts, 4);
        } else {
            std::memcpy(&bytes[static_cast<std::size_t>(x) * 8], &v, 8);
        }
    }
    return bytes;
}

// Master(x, y) = field(x, y); slave(x, y) = master(x - dx, y - dy): every
// feature lies dx samples and dy lines further on in the slave.
struct PairSpec {
    int w1 = 256, l1 = 256, w2 = 256, l2 = 256;
    int dx = 0, dy = 0;
    bool scomplex = false;
    std::string masterType = "FCOMPLEX", slaveType = "FCOMPLEX";
    unsigned seed = 7;
};

struct PairFiles {
    std::string master, slave, off;
};

inline bool write_field_image(const std::string& path, const SpeckleField& field, int x0, int y0,
                              int width, int lines, bool scomplex) {
    std::string bytes;
    for (int y = 0; y < lines; y++)
        bytes += field_line_bytes(field, x0, y0 + y, width, scomplex);
    return write_whole_file(path, bytes);
}

// Writes master.slc, slave.slc, their XML files and pair.off (coarse offset
// coarseRange, coarseAzimuth) into dir.
inline PairFiles write_pair(const std::string& dir, const PairSpec& p, int coarseRange = 0,
                            int coarseAzimuth = 0) {
    const PairFiles files{dir + "/master.slc", dir + "/slave.slc", dir + "/pair.off"};
    const SpeckleField field(std::max(p.w1, p.w2) + 2 * kFieldPad,
                             std::max(p.l1, p.l2) + 2 * kFieldPad, p.seed);
    EXPECT_TRUE(write_field_image(files.master, field, 0, 0, p.w1, p.l1, p.scomplex));
    EXPECT_TRUE(write_field_image(files.slave, field, -p.dx, -p.dy, p.w2, p.l2, p.scomplex));
    EXPECT_TRUE(write_image_xml(files.master, p.w1, p.l1, p.masterType));
    EXPECT_TRUE(write_image_xml(files.slave, p.w2, p.l2, p.slaveType));
    EXPECT_TRUE(write_coarse_offset_file(files.off, coarseRange, coarseAzimuth));
    return files;
}

// An empty scratch directory named after the running test.
inline std::string fresh_test_dir() {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(test->test_suite_name()) + "." + test->name();
    std::replace(name.begin(), name.end(), '/', '_');
    const std::string dir = std::string(FC_TEST_TMP_DIR) + "/" + name;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}
