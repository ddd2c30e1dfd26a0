// Stage 2 on hand-made offset grids: the fit against exact least-squares
// answers, selection and culling of measurements, the end of the passes and
// the failure reports the fault table cannot stage. Normal runs' output bytes
// are pinned by the golden tests.
#include "fitting/stage_two.h"
#include "tests/support/scratch.h"

#include <climits>
#include <limits>

namespace {

using namespace scratch;
using Poly = std::vector<double>;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

double poly(const Poly& c, double x, double y) {
    return c[0] + c[1] * x + c[2] * y + c[3] * x * y + c[4] * x * x + c[5] * y * y;
}

class StageTwo : public ::testing::Test {
public:
    void SetUp() override {
        dir = fresh_test_dir();
        work = work_files_for_base(dir + "/Temp_7");
        request.offsetParPath = dir + "/pair.off";
        set_grid(4, 3, 1, 1, 1, 1, 1.0);
    }
    void set_grid(int nr, int naz, int r0, int dr, int az0, int daz, double threshold) {
        par.offset_estimation_range_samples = nr;
        par.offset_estimation_azimuth_samples = naz;
        par.offset_estimation_starting_range = r0;
        par.offset_estimation_range_spacing = dr;
        par.offset_estimation_starting_azimuth = az0;
        par.offset_estimation_azimuth_spacing = daz;
        par.offset_estimation_threshhold = threshold;
    }
    int nr() const { return par.offset_estimation_range_samples; }
    int naz() const { return par.offset_estimation_azimuth_samples; }

    // Offsets from the two polynomials plus, on a 4-column grid, a pattern
    // along range no quadratic can fit (a third difference -1, 3, -3, 1), so
    // the scatter is known; SNR uniform.
    void make_grid(const Poly& rp, const Poly& ap, double rangeWiggle, double azimuthWiggle,
                   float snrValue) {
        const double third[4] = {-1, 3, -3, 1};
        offs.assign(static_cast<std::size_t>(nr() * naz()), fcomplex{});
        snrs.assign(offs.size(), snrValue);
        for (int i = 0; i < naz(); i++)
            for (int j = 0; j < nr(); j++) {
                const double x = par.offset_estimation_starting_range +
                                 static_cast<double>(j) * par.offset_estimation_range_spacing;
                const double y = par.offset_estimation_starting_azimuth +
                                 static_cast<double>(i) * par.offset_estimation_azimuth_spacing;
                const double w = nr() == 4 ? third[j] : 0.0;
                offs[i * nr() + j] = {static_cast<float>(poly(rp, x, y) + rangeWiggle * w),
                                      static_cast<float>(poly(ap, x, y) + azimuthWiggle * w)};
            }
    }
    void write_inputs() {
        write_values(work.offsets, offs);
        write_values(work.snr, snrs);
        write_off(request.offsetParPath, par);
    }
    bool run() {
        reporter = RecordingReporter{};
        ::testing::internal::CaptureStdout();
        const bool ok = fit_offsets(request, work, reporter, &fit);
        ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(reporter.failures.size(), ok ? 0u : 1u);
        return ok;
    }
    std::string new_off() const { return dir + "/pair_new.off"; }

    std::string dir;
    WorkFiles work;
    RunRequest request;
    stOffsetParInfo par{};
    std::vector<fcomplex> offs;
    std::vector<float> snrs;
    RecordingReporter reporter;
    OffsetFit fit;
};

const Poly kRange = {1.5, 0.25, -0.125, 0.125, -0.125, 0.375};
const Poly kAzimuth = {-2.25, 0.125, 0.5, -0.25, 0.375, -0.125};

// Residuals are exactly the third-difference pattern (0.25 and 0.5 times -1,
// 3, -3, 1): scatter sqrt(3.75 / 6) and sqrt(15 / 6). Coefficient errors
// from a 50-digit inverse of the weighted normal matrix.
TEST_F(StageTwo, SmallGridGivesTheExactFitAndErrors) {
    make_grid(kRange, kAzimuth, 0.25, 0.5, 4.0f);
    write_inputs();
    ASSERT_TRUE(run());
    EXPECT_EQ(fit.passes, 2);
    EXPECT_EQ(fit.kept, 12);
    EXPECT_NEAR(fit.rangeStdDev, 0.790569415042, 1e-12);
    EXPECT_NEAR(fit.azimuthStdDev, 1.581138830085, 1e-12);
    const double errors[6] = {6.17138e-01, 3.15610e-01, 5.13490e-01,
                              6.25000e-02, 5.70544e-02, 1.21031e-01};
    for (int k = 0; k < 6; k++) {
        EXPECT_NEAR(fit.rangePolynomial[k], kRange[k], 1e-12) << k;
        EXPECT_NEAR(fit.azimuthPolynomial[k], kAzimuth[k], 1e-12) << k;
        EXPECT_NEAR(fit.rangeErrors[k], errors[k], 0.5e-5 * errors[k]) << k;
        EXPECT_NEAR(fit.azimuthErrors[k], 2 * errors[k], 1e-5 * errors[k]) << k;
    }
}

// A zero range offset is no measurement; offsets of 1e9 or more, NaN, and an
// SNR that is not finite and positive are skipped; an SNR at the threshold is
// a measurement, but not kept. The azimuth offsets are exactly zero on x = 3:
// still measurements.
TEST_F(StageTwo, SelectsMeasurementsByOffsetsAndSkipsUnusableSnr) {
    set_grid(4, 8, 1, 1, 1, 1, 1.0);
    make_grid(kRange, {0.75, 0.25, -0.375, 0.125, 0.0, 0.0}, 0.25, 0.5, 4.0f);
    offs[0].re = 0.0f;
    offs[1].re = -0.0f;
    offs[4].im = 1.0e9f;
    offs[5].re = -1.0e9f;
    offs[6].re = kNaN;
    offs[7].im = kNaN;
    snrs[8] = 0.0f;
    snrs[9] = kInf;
    snrs[11] = kNaN;
    snrs[12] = -4.0f;
    snrs[13] = 1.0f;
    write_inputs();
    ASSERT_TRUE(run());
    EXPECT_EQ(fit.measurements, 22);
    EXPECT_EQ(fit.kept, 21);
    for (int k = 0; k < 32; k++) {
        const bool skipped = k < 2 || (k >= 4 && k <= 9) || (k >= 11 && k <= 13);
        EXPECT_EQ(fit.keptAt[k], !skipped) << k;
    }
    EXPECT_EQ(read_values<fcomplex>(work.culledOffsets)[10].im, 0.0f);
}

// Six measurements on the line y = 0: only 1, x and x^2 are seen. The
// starting scatter is 0, so pass 1 culls every measurement, and the culled
// ones all get the same weight: the equal-weight least-squares quadratics
// (exact fractions) 31/28 + 5/8 x + 1/56 x^2 and 93/56 - 443/560 x + 11/112 x^2,
// whatever SNRs the samples had.
TEST_F(StageTwo, FewMeasurementsAreAllCulledAndFittedWithEqualWeights) {
    set_grid(6, 2, 0, 1, 0, 1, 1.0);
    offs.assign(12, fcomplex{});
    snrs.assign(12, 5.0f);
    const float ranges[6] = {1, 2, 2, 4, 3, 5}, azimuths[6] = {2, 0, 1, 1, -1, 0.5};
    const float weights[6] = {1, 50, 2, 9, 4, 30};
    for (int j = 0; j < 6; j++) {
        offs[j] = {ranges[j], azimuths[j]};
        snrs[j] = weights[j];
    }
    write_inputs();
    ASSERT_TRUE(run());
    EXPECT_EQ(fit.passes, 2);
    EXPECT_EQ(fit.kept, 0);
    const double range[6] = {31.0 / 28, 5.0 / 8, 0, 0, 1.0 / 56, 0};
    const double azimuth[6] = {93.0 / 56, -443.0 / 560, 0, 0, 11.0 / 112, 0};
    for (int k = 0; k < 6; k++) {
        EXPECT_NEAR(fit.rangePolynomial[k], range[k], 1e-12) << k;
        EXPECT_NEAR(fit.azimuthPolynomial[k], azimuth[k], 1e-12) << k;
    }
}

// Residuals d (-1, 3, -3, 1) along range give a scatter of d sqrt(10) in
// every pass; the first pass compares it with 100. d = 30: 94.87, within a
// tenth; d = 28: 88.54, and 11.46 > 8.85 asks for a second pass.
TEST_F(StageTwo, PassesEndWhenTheScatterMovesByAtMostATenth) {
    const double cases[][3] = {{30.0, 30.0, 1}, {28.0, 30.0, 2}, {30.0, 28.0, 2}};
    for (const auto& [dRange, dAzimuth, passes] : cases) {
        make_grid(kRange, kAzimuth, dRange, dAzimuth, 4.0f);
        write_inputs();
        ASSERT_TRUE(run());
        EXPECT_EQ(fit.passes, passes) << dRange << " " << dAzimuth;
        EXPECT_EQ(fit.kept, 12);
    }
}

// Found by fuzzing: the cell recovered from a wrapped position lay outside
// the culled grid. Last positions exactly at INT_MIN (with a 32-bit product
// 3 x spacing overflowing on the way) and INT_MAX.
TEST_F(StageTwo, GridPositionsAtTheEndsOfThe32BitRangeLandInTheirOwnCells) {
    make_grid({1.5, 0, 0, 0, 0, 0}, {-2.25, 0, 0, 0, 0, 0}, 0.25, 0.5, 4.0f);
    set_grid(4, 3, 1 << 30, -(1 << 30), INT_MAX - 2, 1, 1.0);
    write_inputs();
    ASSERT_TRUE(run());
    const std::vector<fcomplex> grid = read_values<fcomplex>(work.culledOffsets);
    ASSERT_EQ(grid.size(), offs.size());
    EXPECT_GT(fit.kept, 0);
    for (std::size_t k = 0; k < grid.size(); k++) {
        EXPECT_EQ(grid[k].re, fit.keptAt[k] ? offs[k].re : 0.0f) << k;
        EXPECT_EQ(grid[k].im, fit.keptAt[k] ? offs[k].im : 0.0f) << k;
    }
}

struct FitFailure {
    const char* name;
    void (*spoil)(StageTwo&);
    const char* message;
};
FC_PRINTS_AS_NAME(FitFailure)

class StageTwoFailure : public StageTwo, public ::testing::WithParamInterface<FitFailure> {};

// One report, the offset parameter file untouched, no new one and no stray
// replacement file.
TEST_P(StageTwoFailure, ReportsOnceAndKeepsTheOffsetFile) {
    make_grid(kRange, kAzimuth, 0.25, 0.5, 4.0f);
    write_inputs();
    GetParam().spoil(*this);
    write_off(dir + "/pair.off", par);
    const std::string before = read_bytes(dir + "/pair.off");
    run();
    EXPECT_EQ(reporter.failures, std::vector<std::string>{GetParam().message});
    EXPECT_EQ(read_bytes(dir + "/pair.off"), before);
    EXPECT_FALSE(fs::is_regular_file(new_off()));
    for (const auto& entry : fs::directory_iterator(dir))
        EXPECT_EQ(entry.path().string().find(".tmp."), std::string::npos) << entry.path();
}

const char* const kNoMemory = "Memory allocation error for offsets and SNR data !";
const char* const kBeyond32Bits =
    "Offset estimation grid in the off file exceeds the 32-bit position range !";

INSTANTIATE_TEST_SUITE_P(
    Stage, StageTwoFailure,
    ::testing::Values(
        FitFailure{"MissingOffsets", [](StageTwo& t) { t.work.offsets += "x"; },
                   "Cannot open binary offsets file !"},
        FitFailure{"MissingSnr", [](StageTwo& t) { t.work.snr += "x"; },
                   "Cannot open binary SNR file !"},
        FitFailure{"CulledUncreatable", [](StageTwo& t) { t.work.culledOffsets = t.dir + "/no/c"; },
                   "Cannot create culled binary form offset file !"},
        FitFailure{"ListingUncreatable",
                   [](StageTwo& t) { t.work.culledListing = t.dir + "/no/l"; },
                   "Cannot create culled offset file (text format) !"},
        FitFailure{"NoRangeSamples", [](StageTwo& t) { t.set_grid(0, 3, 1, 1, 1, 1, 1); },
                   "Number of offset estimates in range and azimuth in the off file must be at "
                   "least 1 !"},
        FitFailure{"NegativeAzimuthSamples", [](StageTwo& t) { t.set_grid(4, -1, 1, 1, 1, 1, 1); },
                   kNoMemory},
        FitFailure{"ZeroAzimuthSpacing", [](StageTwo& t) { t.set_grid(4, 3, 1, 1, 1, 0, 1); },
                   "Offset estimation spacing in the off file must not be zero !"},
        FitFailure{"GridTooLarge", [](StageTwo& t) { t.set_grid(50000, 50000, 1, 1, 1, 1, 1); },
                   kNoMemory},
        // Found by fuzzing: a last position past the 32-bit range overflowed.
        FitFailure{"RangeBeyond32Bits",
                   [](StageTwo& t) { t.set_grid(4, 3, INT_MAX - 5, 2, 1, 1, 1); }, kBeyond32Bits},
        FitFailure{"AzimuthBeyond32Bits",
                   [](StageTwo& t) { t.set_grid(4, 3, 1, 1, INT_MIN + 2, -2, 1); }, kBeyond32Bits},
        // A non-empty directory where the new file should go cannot be replaced.
        FitFailure{"NewFileBlocked",
                   [](StageTwo& t) { fs::create_directories(t.new_off() + "/keep"); },
                   "Failed to write the off file !"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
