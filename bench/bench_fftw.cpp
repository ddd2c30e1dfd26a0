// Reference point for the transforms: FFTW's in-place two-dimensional
// single-precision complex transform of the sizes BM_FftNd runs (2W x 2W),
// planned with FFTW_MEASURE, forward then backward per iteration as there.
// FFTW is linked into the benchmark program only, never into the module.
#include <benchmark/benchmark.h>
#include <cstddef>
#include <fftw3.h>

namespace {

struct FftwBuffer {
    explicit FftwBuffer(std::size_t count) : data(fftwf_alloc_complex(count)) {}
    ~FftwBuffer() { fftwf_free(data); }
    FftwBuffer(const FftwBuffer&) = delete;
    FftwBuffer& operator=(const FftwBuffer&) = delete;
    fftwf_complex* data;
};

struct FftwPlan {
    FftwPlan(int n, fftwf_complex* data, int sign)
        : plan(fftwf_plan_dft_2d(n, n, data, data, sign, FFTW_MEASURE)) {}
    ~FftwPlan() { fftwf_destroy_plan(plan); }
    FftwPlan(const FftwPlan&) = delete;
    FftwPlan& operator=(const FftwPlan&) = delete;
    fftwf_plan plan;
};

void BM_FftwReference(benchmark::State& state) {
    const int n = 2 * static_cast<int>(state.range(0));
    const std::size_t count = static_cast<std::size_t>(n) * static_cast<std::size_t>(n);
    FftwBuffer buffer(count);
    FftwPlan forward(n, buffer.data, FFTW_FORWARD); // planning overwrites the data
    FftwPlan backward(n, buffer.data, FFTW_BACKWARD);
    for (std::size_t i = 0; i < count; i++) {
        buffer.data[i][0] = static_cast<float>(i % 17) - 8.0f;
        buffer.data[i][1] = static_cast<float>(i % 13) - 6.0f;
    }
    // Unscaled, as BM_FftNd: the values grow alike in both, which costs
    // neither anything (no subnormal numbers arise).
    for (auto _ : state) {
        fftwf_execute(forward.plan);
        fftwf_execute(backward.plan);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(2 * state.iterations()); // transforms
}
BENCHMARK(BM_FftwReference)->Arg(32)->Arg(64)->Arg(128);

} // namespace
