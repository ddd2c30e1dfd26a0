// Offsets from a field on a grid instead of (or on top of) the polynomials:
// the surface through the grid, the filter and filling before it, and the
// whole resampling of a simulated pair through the field's GeoTIFF.
#include "ingest/offset_field_geotiff.h"
#include "resampling/interferogram_file.h"
#include "resampling/offset_model.h"
#include "resampling/resample_file.h"
#include "tests/support/offset_field_tiff.h"
#include "tests/support/scratch.h"
#include "tools/slcsim/slcsim.h"

#include <array>
#include <cmath>
#include <limits>

namespace {

using namespace scratch;

const double kRange[6] = {2.6, 1.1e-3, -7e-4, 3e-7, -4e-7, 2.5e-7};
const double kAzimuth[6] = {-1.8, -5e-4, 1.2e-3, -2.5e-7, 3e-7, -3.5e-7};
const double kZero[6] = {0, 0, 0, 0, 0, 0};

// Field offsets at master (x, y) through the model, as the resampler sees them.
std::pair<double, double> offsets_at(const OffsetModel& model, int x, int y) {
    double xs = 0.0, ys = 0.0;
    FieldLineScratch scratch;
    slave_positions(model, y, x, 1, &xs, &ys, &scratch);
    return {xs - x, ys - y};
}

OffsetModel field_only(const OffsetField& f) {
    OffsetModel model;
    model.field = std::make_shared<const FieldSurface>(f);
    return model;
}

TEST(FieldSurface, ReproducesQuadraticsOnTheGridAndItsSlopeBeyond) {
    const double range[6] = {1.0, 2e-3, -1e-3, 0.0, 4e-6, -3e-6}; // separable quadratic
    const OffsetModel quadratic = field_only(sampled_field(range, kZero, 40.0, 20.0, 12, 9));
    for (int y = 40; y <= 200; y += 7) // the last row and column at 200 and 260
        for (int x = 40; x <= 260; x += 11)
            EXPECT_NEAR(offsets_at(quadratic, x, y).first, eval_offset_poly(range, x, y), 2e-6)
                << x << " " << y;
    // Beyond: on along the tangent plane at the nearest edge node (the
    // quadratic has no x * y term, so the directions do not mix).
    for (const auto& [x, y, ex, ey] : {std::array{0, 0, 40, 40},
                                       {-12, 300, 40, 200},
                                       {400, 100, 260, 100},
                                       {350, 250, 260, 200}}) {
        const double dx = range[1] + 2.0 * range[4] * ex, dy = range[2] + 2.0 * range[5] * ey;
        EXPECT_NEAR(offsets_at(quadratic, x, y).first,
                    eval_offset_poly(range, ex, ey) + dx * (x - ex) + dy * (y - ey), 1e-5)
            << x << " " << y;
    }
}

TEST(FieldSurface, SlopeIsContinuousAcrossNodesAndTheGridsEdge) {
    OffsetField f = sampled_field(kZero, kZero, 0.0, 1000.0, 6, 1);
    f.range = {0.0f, 1.0f, -2.0f, 0.5f, 3.0f, 1.0f}; // rough: linear pieces would kink by 1e-3
    const OffsetModel model = field_only(f);
    for (int node : {0, 1000, 2000, 5000}) {
        std::vector<double> xs(3), ys(3);
        FieldLineScratch scratch;
        slave_positions(model, 0, node - 1, 3, xs.data(), ys.data(), &scratch);
        EXPECT_NEAR(xs[1] - xs[0], xs[2] - xs[1], 2e-5) << "at sample " << node;
    }
}

TEST(CompletedOffsetField, OutliersAndHolesAreFilledFromTheirNeighbours) {
    OffsetField f = sampled_field(kRange, kAzimuth, 16.0, 32.0, 9, 9);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    f.range[f.index(4, 4)] = 40.0f;                          // an outlier in range
    f.azimuth[f.index(2, 6)] = nan;                          // measured in range only
    f.range[f.index(7, 1)] = f.azimuth[f.index(7, 1)] = nan; // nothing measured
    const OffsetField truth = sampled_field(kRange, kAzimuth, 16.0, 32.0, 9, 9);
    const OffsetField done = completed_offset_field(f, "f.tif");
    ASSERT_TRUE(done.complete());
    for (const auto& [r, c] : {std::pair{4, 4}, {2, 6}, {7, 1}}) {
        EXPECT_NEAR(done.range[done.index(r, c)], truth.range[truth.index(r, c)], 0.1);
        EXPECT_NEAR(done.azimuth[done.index(r, c)], truth.azimuth[truth.index(r, c)], 0.1);
    }
    EXPECT_EQ(done.range[done.index(0, 0)], truth.range[truth.index(0, 0)]); // untouched
}

// A 512 x 512 pair at coherence 1 with the polynomial offsets of kRange and
// kAzimuth, the truth's offset file and the same offsets sampled on a grid
// of 24 (cells from sample 10 to 490) in field.tif.
std::string simulate_with_field(const std::string& dir) {
    const SlcSimOptions sim = square_pair_in(dir, 512, kRange, kAzimuth);
    std::string error;
    EXPECT_TRUE(simulate_slc_pair(sim, &error)) << error;
    write_field_geotiff(dir + "/field.tif", sampled_field(kRange, kAzimuth, 10.0, 24.0, 21, 21));
    return dir;
}

double resampled_coherence(const std::string& dir, const std::string& fitted_off,
                           const std::string& field) {
    ResampleFileRequest request{
        dir + "/master.slc", dir + "/slave.slc", fitted_off, dir + "/resampled.slc", {}};
    if (!field.empty()) {
        request.field_path = field;
        request.read_field = [field] { return ingest::read_offset_field_geotiff(field); };
    }
    resample_file(request, nullptr);
    return interferogram_file({dir + "/master.slc", dir + "/resampled.slc", 5, 5, dir},
                              raw_raster_writer, nullptr)
        .mean_coherence;
}

TEST(ResampleFile, FieldSampledFromThePolynomialsCoRegistersAsWellAsThey) {
    const std::string dir = simulate_with_field(fresh_test_dir());
    const double polynomials = resampled_coherence(dir, dir + "/truth.off", "");
    const double field = resampled_coherence(dir, "", dir + "/field.tif");
    // On top: a constant left out of the polynomials and carried by the field.
    write_bytes(dir + "/part.off", "initial_range_offset: 0\ninitial_azimuth_offset: 0\n"
                                   "range_offset_polynomial: 1.6 1.1e-3 -7e-4 3e-7 -4e-7 2.5e-7\n"
                                   "azimuth_offset_polynomial: 0 0 0 0 0 0\n");
    const double rest[6] = {1.0, 0, 0, 0, 0, 0};
    write_field_geotiff(dir + "/rest.tif", sampled_field(rest, kAzimuth, 10.0, 24.0, 21, 21));
    const double both = resampled_coherence(dir, dir + "/part.off", dir + "/rest.tif");
    std::printf("mean coherence: polynomials %.5f, field %.5f, polynomials + field %.5f\n",
                polynomials, field, both);
    EXPECT_GE(field, 0.99);
    EXPECT_NEAR(field, polynomials, 0.002);
    EXPECT_NEAR(both, polynomials, 0.002);
}

} // namespace
