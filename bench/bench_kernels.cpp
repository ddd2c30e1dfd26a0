// The per-position kernels at window sizes W = H = 32, 64 and 128: each
// transform, oversampling, correlation and peak fit, and the whole chain of
// one grid position.
#include "bench_support.h"
#include "estimation/corr_peak.h"
#include "estimation/fft.h"
#include "estimation/interp_patch.h"
#include "estimation/patch_prep.h"

#include <benchmark/benchmark.h>
#include <cstdint>

namespace {

float* unit_offset(fcomplex** lines) {
    return reinterpret_cast<float*>(lines[0]) - 1;
}

// fft_nd of 2W x 2H, forward then inverse, so the data stay bounded.
void BM_FftNd(benchmark::State& state) {
    const int W = static_cast<int>(state.range(0));
    PositionArrays a(W, W);
    interp_patch(a.P1.get(), a.O1.get(), W, W, 2, 0); // O1 holds an oversampled patch
    const std::uint32_t nn[3] = {0, static_cast<std::uint32_t>(2 * W),
                                 static_cast<std::uint32_t>(2 * W)};
    for (auto _ : state) {
        fft_nd(unit_offset(a.O1.get()), nn, 2, 1);
        fft_nd(unit_offset(a.O1.get()), nn, 2, -1);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(2 * state.iterations()); // transforms
}
BENCHMARK(BM_FftNd)->Arg(32)->Arg(64)->Arg(128);

void BM_InterpPatch(benchmark::State& state) {
    const int W = static_cast<int>(state.range(0));
    PositionArrays a(W, W);
    for (auto _ : state) {
        interp_patch(a.P1.get(), a.O1.get(), W, W, 2, 0);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_InterpPatch)->Arg(32)->Arg(64)->Arg(128);

void BM_IntensityXcorr(benchmark::State& state) {
    const int W = static_cast<int>(state.range(0));
    PositionArrays a(W, W);
    interp_patch(a.P1.get(), a.O1.get(), W, W, 2, 0);
    interp_patch(a.P2.get(), a.O2.get(), W, W, 2, 0);
    for (auto _ : state) {
        intensity_xcorr(a.O1.get(), a.O2.get(), a.I1.get(), a.I2.get(), a.X.get(), W, W, a.clip1,
                        a.clip2);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_IntensityXcorr)->Arg(32)->Arg(64)->Arg(128);

void BM_CorrPeak(benchmark::State& state) {
    const int W = static_cast<int>(state.range(0));
    PositionArrays a(W, W);
    interp_patch(a.P1.get(), a.O1.get(), W, W, 2, 0);
    interp_patch(a.P2.get(), a.O2.get(), W, W, 2, 0);
    intensity_xcorr(a.O1.get(), a.O2.get(), a.I1.get(), a.I2.get(), a.X.get(), W, W, a.clip1,
                    a.clip2); // X holds a real correlation surface
    double xoff = 0.0, yoff = 0.0;
    for (auto _ : state)
        benchmark::DoNotOptimize(corr_peak(a.X.get(), 2 * W, 2 * W, 3, &xoff, &yoff, 0));
}
BENCHMARK(BM_CorrPeak)->Arg(32)->Arg(64)->Arg(128);

// measure_window: ramp removal of both patches, two oversamplings, correlation,
// peak fit.
void BM_Position(benchmark::State& state) {
    const int W = static_cast<int>(state.range(0));
    PositionArrays a(W, W);
    for (auto _ : state) {
        state.PauseTiming();
        a.restore_patches();
        state.ResumeTiming();
        benchmark::DoNotOptimize(a.run_position());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Position)->Arg(32)->Arg(64)->Arg(128);

} // namespace
