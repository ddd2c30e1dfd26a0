// The dense tracker on simulated pairs: known offsets come back within the
// chain's accuracy, the coarse pass finds what no gross offset announced,
// the thread count changes nothing, and the normalised peak is a
// correlation coefficient.
#include "algorithm/dense_offsets_file.h"
#include "estimation/measure_window.h"
#include "ingest/offset_field_geotiff.h"
#include "tests/support/scratch.h"
#include "tools/slcsim/slcsim.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace {

using namespace scratch;

double poly(const double c[6], double x, double y) {
    return c[0] + c[1] * x + c[2] * y + c[3] * x * y + c[4] * x * x + c[5] * y * y;
}

struct Pair {
    std::string master, slave;
    double range[6], azimuth[6];
};

Pair simulate(const std::string& dir, int side, const double (&range)[6],
              const double (&azimuth)[6]) {
    SlcSimOptions sim = square_pair_in(dir, side, range, azimuth);
    sim.coherence = 0.9;
    std::string error;
    EXPECT_TRUE(simulate_slc_pair(sim, &error)) << error;
    Pair p{sim.master_path, sim.slave_path, {}, {}};
    std::copy(range, range + 6, p.range);
    std::copy(azimuth, azimuth + 6, p.azimuth);
    return p;
}

// Median absolute error of the good windows against the true polynomials,
// range and azimuth.
std::pair<double, double> median_errors(const DenseOffsets& d, const Pair& p) {
    std::vector<double> r, a;
    const OffsetField& g = d.offsets;
    for (int i = 0; i < g.rows; i++)
        for (int j = 0; j < g.columns; j++) {
            const std::size_t k = g.index(i, j);
            if (d.state(k) != WindowState::good)
                continue;
            const double x = g.firstRange + j * g.stepRange, y = g.firstAzimuth + i * g.stepAzimuth;
            r.push_back(std::fabs(d.offsets.range[k] - poly(p.range, x, y)));
            a.push_back(std::fabs(d.offsets.azimuth[k] - poly(p.azimuth, x, y)));
        }
    EXPECT_GT(r.size(), g.cells() / 2);
    std::nth_element(r.begin(), r.begin() + r.size() / 2, r.end());
    std::nth_element(a.begin(), a.begin() + a.size() / 2, a.end());
    return {r[r.size() / 2], a[a.size() / 2]};
}

DenseOffsetsFileRequest request_for(const Pair& p) {
    DenseOffsetsFileRequest r;
    r.master = p.master;
    r.slave = p.slave;
    return r;
}

TEST(DenseTracker, RecoversPolynomialOffsetsGivenAsGrossAsConstantOrFile) {
    const std::string dir = fresh_test_dir();
    const Pair p = simulate(dir, 384, {2.37, 1.2e-3, 0, 0, 0, 0}, {-1.42, 0, 9e-4, 0, 0, 2e-6});
    DenseOffsetsFileRequest r = request_for(p);
    r.gross = {GrossChoice::Kind::constant, 2.0, -1.0, ""};
    const DenseOffsets constant = dense_offsets_file(r, nullptr);
    const auto [cr, ca] = median_errors(constant, p);
    EXPECT_LE(cr, 0.03);
    EXPECT_LE(ca, 0.03);
    // The truth file's polynomials place every slave window on its offset.
    r.gross = {GrossChoice::Kind::offset_file, 0, 0, dir + "/truth.off"};
    const auto [fr, fa] = median_errors(dense_offsets_file(r, nullptr), p);
    EXPECT_LE(fr, 0.03);
    EXPECT_LE(fa, 0.03);
    // The sigmas state that accuracy: at coherence 0.9 and 64 x 64, about
    // the fit's floor.
    const TrackingSummary s = summarise(constant);
    EXPECT_NEAR(s.medianRangeSigma, 1.4826 * cr, 0.4 * s.medianRangeSigma);
}

TEST(DenseTracker, CoarsePassFindsATwelveSampleOffsetWithoutGrossOffsets) {
    const std::string dir = fresh_test_dir();
    const Pair p = simulate(dir, 512, {12.0, 1.5e-3, 0, 0, 0, 0}, {-12.0, 0, 1e-3, 0, 0, 0});
    DenseOffsetsFileRequest r = request_for(p);
    r.tracking.coarsePass = true;
    r.tracking.fill = true;
    const auto [er, ea] = median_errors(dense_offsets_file(r, nullptr), p);
    EXPECT_LE(er, 0.05);
    EXPECT_LE(ea, 0.05);
}

TEST(DenseTracker, SameFieldOnOneAndTwoThreadsAndThroughTheGeoTiff) {
    const std::string dir = fresh_test_dir();
    const Pair p = simulate(dir, 256, {0.4, 0, 0, 0, 0, 0}, {0.3, 0, 0, 0, 0, 0});
    DenseOffsetsFileRequest r = request_for(p);
    r.tracking.windows.width = 32;
    r.tracking.windows.height = 64;
    r.tracking.windows.stepRange = 12;
    r.tracking.windows.stepAzimuth = 20;
    r.tracking.windows.margin = 5;
    r.tracking.fill = true;
    r.out = dir + "/one.tif";
    const DenseOffsets one = dense_offsets_file(r, nullptr);
    r.tracking.threads = 2;
    r.out = dir + "/two.tif";
    dense_offsets_file(r, nullptr);
    EXPECT_EQ(read_bytes(dir + "/one.tif"), read_bytes(dir + "/two.tif"));
    EXPECT_EQ(one.offsets.firstRange, 5 + 16);
    EXPECT_EQ(one.offsets.firstAzimuth, 5 + 32);
    // The reader gives back the grid and both offset bands.
    const OffsetField back = ingest::read_offset_field_geotiff(dir + "/one.tif");
    EXPECT_EQ(back.firstRange, one.offsets.firstRange);
    EXPECT_EQ(back.stepAzimuth, one.offsets.stepAzimuth);
    EXPECT_EQ(back.columns, one.offsets.columns);
    EXPECT_EQ(back.range, one.offsets.range);
    EXPECT_EQ(back.azimuth, one.offsets.azimuth);
}

TEST(NormalisedPeak, IsOneForIdenticalPatchesAndFallsWithIndependentNoise) {
    WindowWorkspace ws(std::make_shared<const OversamplingFilter>(32, 32, 2, false));
    std::mt19937 random(5);
    std::normal_distribution<float> normal;
    const auto fill = [&](fcomplex** patch, fcomplex** copy, float share) {
        for (int r = 0; r < 32; r++)
            for (int c = 0; c < 32; c++)
                patch[r][c] = {copy[r][c].re * share + normal(random) * (1 - share),
                               copy[r][c].im * share + normal(random) * (1 - share)};
    };
    std::vector<fcomplex> base(32 * 32);
    for (fcomplex& v : base)
        v = {normal(random), normal(random)};
    std::vector<fcomplex*> lines(32);
    for (int r = 0; r < 32; r++)
        lines[r] = &base[static_cast<std::size_t>(r) * 32];
    fill(ws.master_patch(), lines.data(), 1.0f);
    fill(ws.slave_patch(), lines.data(), 1.0f);
    measure_window(ws, 1e9, 1e9);
    EXPECT_NEAR(normalised_peak(ws), 1.0, 1e-5);
    fill(ws.master_patch(), lines.data(), 1.0f);
    fill(ws.slave_patch(), lines.data(), 0.5f);
    measure_window(ws, 1e9, 1e9);
    const double half = normalised_peak(ws);
    EXPECT_GT(half, 0.1);
    EXPECT_LT(half, 0.9);
}

} // namespace
