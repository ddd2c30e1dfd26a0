#pragma once

// Files the module reads and writes, for the tests: a scratch directory per
// test, whole files, and SLC pairs cut from one speckle field with the slave
// displaced by whole samples and lines, so the true offsets are exact.
#include "numeric/fcomplex.h"
#include "params/file_naming.h"
#include "params/offset_par.h"
#include "params/offset_par_file.h"
#include "params/sar_image_xml_writer.h"
#include "params/stage_reporter.h"
#include "tools/slcsim/gaussian_source.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <vector>

// Rows of a table print as their names in test reports.
#define FC_PRINTS_AS_NAME(Row)                                                                     \
    [[maybe_unused]] void PrintTo(const Row& row, std::ostream* os) {                              \
        *os << row.name;                                                                           \
    }

namespace scratch {

namespace fs = std::filesystem;

// An empty directory named after the running test.
inline std::string fresh_test_dir() {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(test->test_suite_name()) + "." + test->name();
    std::replace(name.begin(), name.end(), '/', '_');
    // Runs with a forced transform path go alongside the normal ones.
    if (const char* path = std::getenv("FINECOREG_FFT_PATH"))
        name += std::string(".") + path;
    const std::string dir = std::string(FC_TEST_TMP_DIR) + "/" + name;
    std::error_code ignored;
    fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(dir, ignored);
    fs::create_directories(dir);
    return dir;
}

// The file's bytes; "" when it is absent or no regular file.
inline std::string read_bytes(const std::string& path) {
    if (!fs::is_regular_file(path))
        return {};
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void write_bytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
    out.close();
    ASSERT_TRUE(out.good()) << path;
}

// A binary file as whole values of T.
template <class T> std::vector<T> read_values(const std::string& path) {
    const std::string bytes = read_bytes(path);
    std::vector<T> v(bytes.size() / sizeof(T));
    std::memcpy(v.data(), bytes.data(), v.size() * sizeof(T));
    return v;
}

template <class T> void write_values(const std::string& path, const std::vector<T>& v) {
    write_bytes(path, std::string(reinterpret_cast<const char*>(v.data()), v.size() * sizeof(T)));
}

// Reading an offset parameter file warns about its missing title: silenced.
inline stOffsetParInfo read_off(const std::string& path) {
    stOffsetParInfo par{};
    std::FILE* f = std::fopen(path.c_str(), "r");
    EXPECT_NE(f, nullptr) << path;
    if (f != nullptr) {
        ::testing::internal::CaptureStdout();
        read_offset_par(f, &par);
        ::testing::internal::GetCapturedStdout();
        std::fclose(f);
    }
    return par;
}

inline void write_off(const std::string& path, const stOffsetParInfo& par) {
    ASSERT_TRUE(write_offset_par_file(path, par)) << path;
}

inline stOffsetParInfo coarse_offsets(int range, int azimuth) {
    stOffsetParInfo par{};
    par.initial_range_offset = range;
    par.initial_azimuth_offset = azimuth;
    return par;
}

inline void write_image_xml(const std::string& image, int width, int lines,
                            const std::string& type = "FCOMPLEX") {
    ASSERT_TRUE(
        write_sar_image_xml(image_xml_path(image), make_sar_image_info(width, lines, type)));
}

// Circular complex Gaussian speckle, low-passed by [1 2 1] / 4 both ways so
// the correlation peak spans several samples; periodic, the same every time.
struct SpeckleField {
    SpeckleField(int w, int l) : width(w), lines(l), samples(std::size_t(w) * l) {
        const std::vector<fcomplex> white = slcsim::white_speckle(samples.size(), 7, 2.0);
        for (int y = 0; y < lines; y++)
            for (int x = 0; x < width; x++)
                for (int a = -1; a <= 1; a++)
                    for (int b = -1; b <= 1; b++) {
                        const float k = (a == 0 ? 0.5f : 0.25f) * (b == 0 ? 0.5f : 0.25f);
                        const fcomplex v = white[index(x + b, y + a)];
                        samples[index(x, y)].re += k * v.re;
                        samples[index(x, y)].im += k * v.im;
                    }
    }
    std::size_t index(int x, int y) const {
        return static_cast<std::size_t>((y + lines) % lines) * width + (x + width) % width;
    }
    int width, lines;
    std::vector<fcomplex> samples;
};

// Field margin around both images: displacements up to this are possible.
constexpr int kFieldPad = 64;

// Master(x, y) = field(x, y); slave(x, y) = master(x - dx, y - dy): every
// feature lies dx samples and dy lines further on in the slave.
struct PairSpec {
    int w1 = 256, l1 = 256, w2 = 256, l2 = 256;
    int dx = 0, dy = 0;
    bool scomplex = false;
    std::string masterType = "FCOMPLEX", slaveType = "FCOMPLEX";
};

struct PairFiles {
    std::string master, slave, off;
};

// The block of the field from (x0, y0) on, past its margin: FCOMPLEX floats,
// or SCOMPLEX 16-bit integers of value x 1000.
inline void write_field_image(const std::string& path, const SpeckleField& field, int x0, int y0,
                              int width, int lines, bool scomplex) {
    std::string bytes;
    for (int y = y0 + kFieldPad; y < y0 + kFieldPad + lines; y++)
        for (int x = x0 + kFieldPad; x < x0 + kFieldPad + width; x++) {
            const fcomplex v = field.samples[field.index(x, y)];
            const std::int16_t parts[2] = {static_cast<std::int16_t>(std::lround(v.re * 1000.0f)),
                                           static_cast<std::int16_t>(std::lround(v.im * 1000.0f))};
            bytes.append(scomplex ? reinterpret_cast<const char*>(parts)
                                  : reinterpret_cast<const char*>(&v),
                         scomplex ? 4 : 8);
        }
    write_bytes(path, bytes);
}

// master.slc, slave.slc, their XML files and pair.off (the given coarse
// offsets) in dir.
inline PairFiles write_pair(const std::string& dir, const PairSpec& p, int coarseRange = 0,
                            int coarseAzimuth = 0) {
    const PairFiles files{dir + "/master.slc", dir + "/slave.slc", dir + "/pair.off"};
    const SpeckleField field(std::max(p.w1, p.w2) + 2 * kFieldPad,
                             std::max(p.l1, p.l2) + 2 * kFieldPad);
    write_field_image(files.master, field, 0, 0, p.w1, p.l1, p.scomplex);
    write_field_image(files.slave, field, -p.dx, -p.dy, p.w2, p.l2, p.scomplex);
    write_image_xml(files.master, p.w1, p.l1, p.masterType);
    write_image_xml(files.slave, p.w2, p.l2, p.slaveType);
    write_off(files.off, coarse_offsets(coarseRange, coarseAzimuth));
    return files;
}

// Sets to zero the samples of an FCOMPLEX image for which pick(x, y) holds.
template <class Pick> void zero_samples(const std::string& path, int width, Pick pick) {
    std::vector<fcomplex> image = read_values<fcomplex>(path);
    for (std::size_t k = 0; k < image.size(); k++)
        if (pick(static_cast<int>(k % width), static_cast<int>(k / width)))
            image[k] = {0.0f, 0.0f};
    write_values(path, image);
}

// What a stage reported (its progress is checked through Execute).
struct RecordingReporter : StageReporter {
    std::vector<std::string> failures;
    void progress(double) override {}
    void failure(const char* message) override { failures.push_back(message); }
};

} // namespace scratch
