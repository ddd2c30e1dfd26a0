// Resampling throughput: the library's resampler (tabulated weights, two
// separable passes along the curve) beside a naive reference of the same
// kernel that computes every weight from the windowed sinc for each output
// sample and sums the full taps x taps neighbourhood; and the interferogram.
// Output samples per second per core (one thread).
#include "params/offset_par.h"
#include "resampling/interferogram.h"
#include "resampling/kernel_choice.h"
#include "resampling/resample_array.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <complex>
#include <random>
#include <vector>

namespace {

constexpr int kWidth = 2048;
constexpr int kLines = 256;

OffsetPolynomials demo_offsets() {
    OffsetPolynomials o;
    const double range[6] = {2.6, 1.1e-3, -7e-4, 3e-7, -4e-7, 2.5e-7};
    const double azimuth[6] = {-1.8, -5e-4, 1.2e-3, -2.5e-7, 3e-7, -3.5e-7};
    std::copy(range, range + 6, o.range);
    std::copy(azimuth, azimuth + 6, o.azimuth);
    return o;
}

std::vector<std::complex<float>> speckle(int lines, int width, unsigned seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<float> g;
    std::vector<std::complex<float>> v(static_cast<std::size_t>(lines) * width);
    for (auto& s : v)
        s = {g(rng), g(rng)};
    return v;
}

void BM_Resample(benchmark::State& state) {
    const auto slave = speckle(kLines, kWidth, 1);
    std::vector<std::complex<float>> out(slave.size());
    std::vector<unsigned char> mask(slave.size());
    const OffsetPolynomials offsets = demo_offsets();
    const double doppler = static_cast<double>(state.range(0)) / 10.0;
    for (auto _ : state) {
        resample_array(slave.data(), kLines, kWidth, offsets, kLines, kWidth, doppler, out.data(),
                       mask.data());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * kLines * kWidth);
}
BENCHMARK(BM_Resample)->Arg(0)->Arg(3)->Unit(benchmark::kMillisecond);

// The same on state.range(0) threads, in wall time: what more cores buy.
void BM_ResampleThreads(benchmark::State& state) {
    const auto slave = speckle(kLines, kWidth, 1);
    std::vector<std::complex<float>> out(slave.size());
    std::vector<unsigned char> mask(slave.size());
    const OffsetPolynomials offsets = demo_offsets();
    const int threads = static_cast<int>(state.range(0));
    for (auto _ : state) {
        resample_array(slave.data(), kLines, kWidth, offsets, kLines, kWidth, 0.0, out.data(),
                       mask.data(), threads);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * kLines * kWidth);
}
BENCHMARK(BM_ResampleThreads)->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);

// Every output sample: its position from the polynomials, 2 x taps weights
// straight from the kernel's formula, the taps x taps neighbourhood summed.
void BM_ResampleNaive(benchmark::State& state) {
    constexpr int lines = 16; // the reference is slow: fewer lines
    const auto slave = speckle(kLines, kWidth, 1);
    std::vector<std::complex<float>> out(static_cast<std::size_t>(lines) * kWidth);
    const OffsetPolynomials offsets = demo_offsets();
    const SincKernel kernel(resampling_kernel_shape(), 1);
    const int taps = kernel.taps(), first = kernel.first_tap();
    std::vector<double> wr(static_cast<std::size_t>(taps)), wa(wr.size());
    for (auto _ : state) {
        for (int y = 100; y < 100 + lines; y++)
            for (int x = 0; x < kWidth; x++) {
                const double xs = x + eval_offset_poly(offsets.range, x, y);
                const double ys = y + eval_offset_poly(offsets.azimuth, x, y);
                const int c0 = static_cast<int>(std::floor(xs)) + first;
                const int l0 = static_cast<int>(std::floor(ys)) + first;
                std::complex<float> v = 0.0f;
                if (c0 >= 0 && c0 + taps <= kWidth) {
                    for (int j = 0; j < taps; j++) {
                        wr[static_cast<std::size_t>(j)] = kernel.value(xs - (c0 + j));
                        wa[static_cast<std::size_t>(j)] = kernel.value(ys - (l0 + j));
                    }
                    std::complex<double> sum = 0.0;
                    for (int i = 0; i < taps; i++)
                        for (int j = 0; j < taps; j++)
                            sum += wa[static_cast<std::size_t>(i)] *
                                   wr[static_cast<std::size_t>(j)] *
                                   std::complex<double>(
                                       slave[static_cast<std::size_t>(l0 + i) * kWidth + c0 + j]);
                    v = std::complex<float>(sum);
                }
                out[static_cast<std::size_t>(y - 100) * kWidth + x] = v;
            }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * lines * kWidth);
}
BENCHMARK(BM_ResampleNaive)->Unit(benchmark::kMillisecond);

void BM_Interferogram(benchmark::State& state) {
    const auto m = speckle(kLines, kWidth, 1), s = speckle(kLines, kWidth, 2);
    std::vector<std::complex<float>> ifg(static_cast<std::size_t>(kLines / 5) * (kWidth / 5));
    std::vector<float> coherence(ifg.size());
    for (auto _ : state) {
        interferogram_arrays(m.data(), s.data(), kLines, kWidth, 5, 5, ifg.data(),
                             coherence.data());
        benchmark::DoNotOptimize(coherence.data());
    }
    state.SetItemsProcessed(state.iterations() * (kLines / 5 * 5) * (kWidth / 5 * 5));
}
BENCHMARK(BM_Interferogram)->Unit(benchmark::kMillisecond);

} // namespace
