// Whole runs through Execute on simulated pairs with known offset fields:
// the fitted polynomials must reproduce the true offsets over the image.
#include "run_fixture.h"
#include "tools/slcsim/slcsim.h"

#include <cmath>
#include <cstdio>
#include <gtest/gtest.h>

namespace {

struct OffsetField {
    const char* name;
    double range[6];
    double azimuth[6];
};

const OffsetField kConstant{"Constant", {3.37, 0, 0, 0, 0, 0}, {-2.62, 0, 0, 0, 0, 0}};
const OffsetField kLinear{
    "Linear", {2.2, 1.1e-3, -0.6e-3, 0, 0, 0}, {-1.4, 0.5e-3, 0.9e-3, 0, 0, 0}};
const OffsetField kQuadratic{"Quadratic",
                             {1.8, 0.8e-3, 0.3e-3, 0.6e-6, -0.9e-6, 0.7e-6},
                             {-2.3, -0.4e-3, 1.2e-3, -0.5e-6, 0.8e-6, -1.1e-6}};

struct EndToEndCase {
    const OffsetField* field;
    double coherence;
    SlcFormat format;
    // Bounds in samples: measured maxima 0.016-0.036 and RMS 0.007-0.015
    // (1024 x 1024, 64 x 64 windows, 16 x 16 grid), with a margin.
    double max_bound;
    double rms_bound;
};

struct FitError {
    double max = 0.0;
    double rms = 0.0;
};

// Largest and RMS difference of fitted and true offsets, both directions,
// on a 32-sample lattice over the whole image.
FitError compare_over_image(const stOffsetParInfo& fitted, const stOffsetParInfo& truth, int width,
                            int lines) {
    FitError e;
    double sum = 0.0;
    int n = 0;
    for (int y = 0; y < lines; y += 32)
        for (int x = 0; x < width; x += 32)
            for (int d = 0; d < 2; d++) {
                const double* f =
                    d == 0 ? fitted.range_offset_polynomial : fitted.azimuth_offset_polynomial;
                const double* t =
                    d == 0 ? truth.range_offset_polynomial : truth.azimuth_offset_polynomial;
                const double diff = eval_offset_poly(f, x, y) - eval_offset_poly(t, x, y);
                e.max = std::max(e.max, std::fabs(diff));
                sum += diff * diff;
                n++;
            }
    e.rms = std::sqrt(sum / n);
    return e;
}

class EndToEnd : public ::testing::TestWithParam<EndToEndCase> {};

TEST_P(EndToEnd, FittedPolynomialsReproduceTheTrueOffsets) {
    const EndToEndCase& c = GetParam();
    const std::string dir = make_test_dir(std::string("e2e_") + c.field->name +
                                          (c.format == SlcFormat::scomplex ? "_s" : "_f") +
                                          std::to_string(static_cast<int>(c.coherence * 100)));
    SlcSimOptions sim;
    sim.width = 1024;
    sim.lines = 1024;
    sim.format = c.format;
    std::copy(c.field->range, c.field->range + 6, sim.range_offset_polynomial);
    std::copy(c.field->azimuth, c.field->azimuth + 6, sim.azimuth_offset_polynomial);
    sim.coherence = c.coherence;
    sim.seed = 20261206;
    sim.initial_range_offset = static_cast<int>(std::lround(c.field->range[0]));
    sim.initial_azimuth_offset = static_cast<int>(std::lround(c.field->azimuth[0]));
    sim.master_path = dir + "/master.slc";
    sim.slave_path = dir + "/slave.slc";
    sim.offset_par_path = dir + "/pair.off";
    sim.truth_path = dir + "/truth.off";
    std::string error;
    ASSERT_TRUE(simulate_slc_pair(sim, &error)) << error;

    RecordingCoregistration algo;
    boost::any slot = run_record(sim.master_path, sim.slave_path, sim.offset_par_path, 64, 16, 16);
    algo.SetParams(slot);
    testing::internal::CaptureStdout();
    const bool ok = algo.Execute();
    const std::string diagnostics = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(ok) << (algo.posted.empty() ? "" : algo.posted.back().second.toStdString());
    ASSERT_EQ(algo.posted.back().first, 666);

    stOffsetParInfo fitted{}, truth{};
    testing::internal::CaptureStdout(); // the truth file has no title line
    ASSERT_TRUE(read_offset_file(dir + "/pair_new.off", fitted));
    ASSERT_TRUE(read_offset_file(sim.truth_path, truth));
    testing::internal::GetCapturedStdout();

    const FitError e = compare_over_image(fitted, truth, sim.width, sim.lines);
    std::printf("[ figures  ] %s coherence %.2f %s: max %.4f rms %.4f samples\n", c.field->name,
                c.coherence, c.format == SlcFormat::scomplex ? "SCOMPLEX" : "FCOMPLEX", e.max,
                e.rms);
    EXPECT_LT(e.max, c.max_bound);
    EXPECT_LT(e.rms, c.rms_bound);
    EXPECT_NE(diagnostics.find("final solution:"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    SimulatedPairs, EndToEnd,
    ::testing::Values(EndToEndCase{&kConstant, 1.0, SlcFormat::fcomplex, 0.05, 0.025},
                      EndToEndCase{&kLinear, 1.0, SlcFormat::fcomplex, 0.05, 0.025},
                      EndToEndCase{&kQuadratic, 1.0, SlcFormat::fcomplex, 0.05, 0.025},
                      EndToEndCase{&kConstant, 0.7, SlcFormat::fcomplex, 0.05, 0.025},
                      EndToEndCase{&kLinear, 0.7, SlcFormat::fcomplex, 0.05, 0.025},
                      EndToEndCase{&kQuadratic, 0.7, SlcFormat::fcomplex, 0.05, 0.025},
                      EndToEndCase{&kQuadratic, 0.7, SlcFormat::scomplex, 0.05, 0.025}),
    [](const auto& info) {
        return std::string(info.param.field->name) +
               (info.param.format == SlcFormat::scomplex ? "Scomplex" : "Fcomplex") +
               std::to_string(static_cast<int>(info.param.coherence * 100));
    });

} // namespace
