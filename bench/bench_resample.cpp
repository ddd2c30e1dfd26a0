// Resampling throughput: the library's resampler (tabulated weights, two
// separable passes along the curve) beside a naive reference of the same
// kernel that computes every weight from the windowed sinc for each output
// sample and sums the full taps x taps neighbourhood; and the interferogram.
// Output samples per second per core (one thread). And the same resampling
// from file to file beside it in memory, on one pair, in wall time.
#include "params/file_naming.h"
#include "params/offset_par.h"
#include "params/offset_par_file.h"
#include "params/sample_bytes.h"
#include "params/sar_image_xml_writer.h"
#include "resampling/interferogram.h"
#include "resampling/kernel_choice.h"
#include "resampling/resample_array.h"
#include "resampling/resample_file.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <stdexcept>
#include <string>
#include <unistd.h>
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

// The same offsets from a field sampled every 32 samples and lines: what
// the per-line bicubic surface costs beside the polynomials.
void BM_ResampleField(benchmark::State& state) {
    const auto slave = speckle(kLines, kWidth, 1);
    std::vector<std::complex<float>> out(slave.size());
    std::vector<unsigned char> mask(slave.size());
    const OffsetPolynomials p = demo_offsets();
    OffsetField field;
    field.stepRange = field.stepAzimuth = 32.0;
    field.columns = kWidth / 32 + 1;
    field.rows = kLines / 32 + 1;
    for (int r = 0; r < field.rows; r++)
        for (int c = 0; c < field.columns; c++) {
            field.range.push_back(
                static_cast<float>(eval_offset_poly(p.range, 32.0 * c, 32.0 * r)));
            field.azimuth.push_back(
                static_cast<float>(eval_offset_poly(p.azimuth, 32.0 * c, 32.0 * r)));
        }
    const OffsetModel offsets = offset_model(OffsetPolynomials{}, field, "bench");
    for (auto _ : state) {
        resample_array(slave.data(), kLines, kWidth, offsets, kLines, kWidth, 0.0, out.data(),
                       mask.data());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * kLines * kWidth);
}
BENCHMARK(BM_ResampleField)->Unit(benchmark::kMillisecond);

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

// A 2048 x 2048 pair in a temporary directory, written once: the slave as
// FCOMPLEX and as SCOMPLEX (the same speckle), a master of the same size
// (only its XML and size are read) and the offsets of demo_offsets().
constexpr int kPairSize = 2048;

struct FilePair {
    FilePair() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp ? tmp : "/tmp") + "/fc_bench_resample_XXXXXX";
        if (::mkdtemp(&pattern[0]) == nullptr)
            throw std::runtime_error("no temporary directory");
        dir = pattern;
        slave = speckle(kPairSize, kPairSize, 1);
        // What the SCOMPLEX file holds, as the reader decodes it.
        std::vector<unsigned char> bytes(slave.size() * 4);
        long saturated = 0;
        encode_samples(slave.data(), SampleFormat::scomplex, slave.size(), bytes.data(),
                       &saturated);
        decode_samples(bytes.data(), SampleFormat::scomplex, slave.size(), slave_counts.data());
        write_image("master.slc", "FCOMPLEX", slave.data(), 8);
        write_image("slave_f.slc", "FCOMPLEX", slave.data(), 8);
        write_image("slave_s.slc", "SCOMPLEX", bytes.data(), 4);
        stOffsetParInfo par{};
        const OffsetPolynomials o = demo_offsets();
        std::copy(o.range, o.range + 6, par.range_offset_polynomial);
        std::copy(o.azimuth, o.azimuth + 6, par.azimuth_offset_polynomial);
        if (!write_offset_par_file(dir + "/pair.off", par))
            throw std::runtime_error("cannot write " + dir + "/pair.off");
    }
    ~FilePair() {
        for (const char* name : {"master.slc", "master.xml", "slave_f.slc", "slave_f.xml",
                                 "slave_s.slc", "slave_s.xml", "pair.off"})
            std::remove((dir + "/" + name).c_str());
        ::rmdir(dir.c_str());
    }
    void write_image(const std::string& name, const char* type, const void* data, int bytes) {
        const std::string path = dir + "/" + name;
        std::FILE* f = std::fopen(path.c_str(), "wb");
        const std::size_t n = static_cast<std::size_t>(kPairSize) * kPairSize * bytes;
        const bool ok = f && std::fwrite(data, 1, n, f) == n;
        if (f == nullptr || std::fclose(f) != 0 || !ok ||
            !write_sar_image_xml(image_xml_path(path),
                                 make_sar_image_info(kPairSize, kPairSize, type)))
            throw std::runtime_error("cannot write " + path);
    }
    std::string dir;
    std::vector<std::complex<float>> slave;
    std::vector<std::complex<float>> slave_counts =
        std::vector<std::complex<float>>(static_cast<std::size_t>(kPairSize) * kPairSize);
};

FilePair& file_pair() {
    static FilePair pair;
    return pair;
}

// In memory: arg 0 the FCOMPLEX slave, 1 the SCOMPLEX one (as decoded).
void BM_ResamplePairArray(benchmark::State& state) {
    const FilePair& pair = file_pair();
    const auto& slave = state.range(0) == 0 ? pair.slave : pair.slave_counts;
    std::vector<std::complex<float>> out(slave.size());
    std::vector<unsigned char> mask(slave.size());
    const OffsetPolynomials offsets = demo_offsets();
    for (auto _ : state) {
        resample_array(slave.data(), kPairSize, kPairSize, offsets, kPairSize, kPairSize, 0.0,
                       out.data(), mask.data());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * kPairSize * kPairSize);
}
BENCHMARK(BM_ResamplePairArray)->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMillisecond);

// From file to file (output, mask and XML written, synced and renamed; removed
// again outside the timing): arg 0 FCOMPLEX, 1 SCOMPLEX.
void BM_ResamplePairFile(benchmark::State& state) {
    const FilePair& pair = file_pair();
    ResampleFileRequest request;
    request.master = pair.dir + "/master.slc";
    request.slave = pair.dir + (state.range(0) == 0 ? "/slave_f.slc" : "/slave_s.slc");
    request.fitted_off = pair.dir + "/pair.off";
    request.out_slc = pair.dir + "/out.slc";
    request.doppler.mode = DopplerChoice::Mode::off;
    for (auto _ : state) {
        const ResampleFileResult result = resample_file(request, nullptr);
        state.PauseTiming();
        for (const std::string& path : {result.output, result.xml, result.mask})
            std::remove(path.c_str());
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kPairSize * kPairSize);
}
BENCHMARK(BM_ResamplePairFile)->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace
