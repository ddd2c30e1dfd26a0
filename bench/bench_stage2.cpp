// Stage 2 on a 64 x 64 grid: offsets from two quadratics plus scatter and a
// few outliers, so the fit culls and iterates as on real data.
#include "bench_support.h"
#include "fitting/stage_two.h"
#include "params/offset_par.h"
#include "params/offset_par_file.h"

#include <benchmark/benchmark.h>
#include <random>
#include <stdexcept>
#include <sys/stat.h>

namespace {

struct Stage2Inputs {
    std::string dir, off, offs, snr, coffs, clisting;
};

Stage2Inputs write_stage2_inputs(int n) {
    Stage2Inputs in;
    in.dir = "bench-stage2";
    ::mkdir(in.dir.c_str(), 0755);
    in.off = in.dir + "/pair.off";
    in.offs = in.dir + "/work_offs";
    in.snr = in.dir + "/work_snr";
    in.coffs = in.dir + "/work_coffs";
    in.clisting = in.dir + "/work_coffsets.txt";

    stOffsetParInfo par{};
    par.offset_estimation_range_samples = n;
    par.offset_estimation_azimuth_samples = n;
    par.offset_estimation_starting_range = 48;
    par.offset_estimation_starting_azimuth = 48;
    par.offset_estimation_range_spacing = 64;
    par.offset_estimation_azimuth_spacing = 64;
    par.offset_estimation_window_width = 64;
    par.offset_estimation_window_height = 64;
    par.offset_estimation_threshhold = 7.0;
    if (!write_offset_par_file(in.off, par))
        throw std::runtime_error("cannot write " + in.off);

    std::mt19937 generator(17);
    std::normal_distribution<double> scatter(0.0, 0.05);
    std::uniform_real_distribution<double> snr(5.0, 40.0);
    std::vector<fcomplex> offs(static_cast<std::size_t>(n) * n);
    std::vector<float> snrs(offs.size());
    for (int i = 0; i < n; i++)
        for (int j = 0; j < n; j++) {
            const double x = 48 + 64.0 * j, y = 48 + 64.0 * i;
            const bool outlier = (i * n + j) % 97 == 0;
            const double range = 1.5 + 2e-4 * x - 1e-4 * y + 3e-8 * x * y + scatter(generator);
            const double azimuth = -2.0 + 1e-4 * x + 2e-4 * y - 2e-8 * y * y + scatter(generator);
            offs[static_cast<std::size_t>(i) * n + j] = {
                static_cast<float>(range + (outlier ? 4.0 : 0.0)), static_cast<float>(azimuth)};
            snrs[static_cast<std::size_t>(i) * n + j] = static_cast<float>(snr(generator));
        }
    std::FILE* f = std::fopen(in.offs.c_str(), "wb");
    std::fwrite(offs.data(), sizeof(fcomplex), offs.size(), f);
    std::fclose(f);
    f = std::fopen(in.snr.c_str(), "wb");
    std::fwrite(snrs.data(), sizeof(float), snrs.size(), f);
    std::fclose(f);
    return in;
}

void BM_Stage2(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    Stage2Inputs in = write_stage2_inputs(n);
    const RunRequest request = bench_request("", "", in.off, 64, n, n);
    const WorkFiles files{in.offs, in.snr, "", in.coffs, in.clisting};
    QuietReporter reporter;
    SilencedStdout quiet;
    for (auto _ : state) {
        if (!fit_offsets(request, files, reporter))
            state.SkipWithError("stage 2 failed");
    }
}
BENCHMARK(BM_Stage2)->Arg(64)->Unit(benchmark::kMillisecond);

} // namespace
