// The whole run on the fixed 4096 x 4096 FCOMPLEX pair, 64 x 64 windows on a
// 32 x 32 grid: time per position and positions per second of both stages,
// and the split of stage 1 between its steps.
#include "bench_support.h"
#include "estimation/measure_window.h"
#include "estimation/slc_lines.h"
#include "estimation/stage_one.h"
#include "fitting/stage_two.h"
#include "params/estimation_grid.h"
#include "params/file_handle.h"

#include <benchmark/benchmark.h>
#include <ctime>

namespace {

constexpr int kWindow = 64;
constexpr int kGrid = 32;
constexpr int kPositions = kGrid * kGrid;

// Process CPU time (user and system): the machines the benchmarks run on are
// shared, and wall time would measure the neighbours too.
struct Clock {
    using time_point = double;
    static double now() {
        timespec t;
        ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
        return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
    }
};

double seconds_since(Clock::time_point start) {
    return Clock::now() - start;
}

WorkFiles work_files(const BenchPair& p) {
    return {p.dir + "/work_offs", p.dir + "/work_snr", p.dir + "/work_offsets.txt",
            p.dir + "/work_coffs", p.dir + "/work_coffsets.txt"};
}

// Both stages as the run driver chains them, with fixed work-file names.
void BM_WholeRun(benchmark::State& state) {
    const BenchPair& p = bench_pair();
    const WorkFiles f = work_files(p);
    const RunRequest request =
        bench_request(p.master, p.slave, p.dir + "/pair.off", kWindow, kGrid, kGrid);
    QuietReporter reporter;
    double stage1 = 0.0, stage2 = 0.0;
    for (auto _ : state) {
        copy_file(p.offPristine, request.offsetParPath); // stage 1 rewrites it
        SilencedStdout quiet;
        const Clock::time_point start = Clock::now();
        bool ok = estimate_offsets(request, f, reporter);
        const double s1 = seconds_since(start);
        ok = ok && fit_offsets(request, f, reporter);
        const double total = seconds_since(start);
        if (!ok) {
            state.SkipWithError("the run failed");
            break;
        }
        stage1 += s1;
        stage2 += total - s1;
        state.SetIterationTime(total);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["per_position_us"] = (stage1 + stage2) / n / kPositions * 1e6;
    state.counters["positions_per_s"] = kPositions * n / (stage1 + stage2);
    state.counters["stage1_per_position_us"] = stage1 / n / kPositions * 1e6;
    state.counters["stage2_per_position_us"] = stage2 / n / kPositions * 1e6;
}
BENCHMARK(BM_WholeRun)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

// Stage 1's loop replayed with the module's own reader and measure_window
// and a clock around reading and measuring. What the replay does not time
// (cutting windows, the no-data test, progress, file output) is the whole
// run's stage 1 time less the sum of these; the kernel benchmarks split the
// measurement further.
struct Split {
    double read = 0.0, measure = 0.0;
};

void replay_stage1(const BenchPair& p, Split& split) {
    const int n = p.size, W = kWindow, H = kWindow, hw = W / 2, hh = H / 2;
    const FileHandle master = open_file(p.master, "rb");
    const FileHandle slave = open_file(p.slave, "rb");
    Block1D<unsigned char> buffer(static_cast<std::size_t>(n) * 8);
    SlcLineReader masterLines(master.get(), n, SampleFormat::fcomplex, buffer.get(), "");
    SlcLineReader slaveLines(slave.get(), n, SampleFormat::fcomplex, buffer.get(), "");
    Array2D<fcomplex> M1(n, H), M2(n, H);
    WindowWorkspace ws(W, H);
    double average1 = 0.0, average2 = 0.0;
    average_intensity(masterLines, SampleFormat::fcomplex, n, n, &average1);
    average_intensity(slaveLines, SampleFormat::fcomplex, n, n, &average2);
    const EstimationGrid grid = lay_out_grid(n, n, kGrid, kGrid, W, H);

    for (int i = 0; i < kGrid; i++) {
        const int ya = static_cast<int>(grid.azimuth_position(i)), ys = ya + p.initialAzimuth;
        if (!(ya + hh < n && ys + hh < n && ya - hh >= 0 && ys - hh >= 0))
            continue;
        Clock::time_point t = Clock::now();
        masterLines.seek_line(ya - hh);
        for (int r = 0; r < H; r++)
            masterLines.read_line_into(M1[r]);
        slaveLines.seek_line(ys - hh);
        for (int r = 0; r < H; r++)
            slaveLines.read_line_into(M2[r]);
        split.read += seconds_since(t);

        for (int j = 0; j < kGrid; j++) {
            const int xr = static_cast<int>(grid.range_position(j)), xs = xr + p.initialRange;
            if (!(xr + hw < n && xs + hw < n && xs - hw >= 0 && xr - hw >= 0))
                continue;
            for (int r = 0; r < H; r++)
                for (int m = 0; m < W; m++) {
                    ws.master_patch()[r][m] = M1[r][xr - hw + m];
                    ws.slave_patch()[r][m] = M2[r][xs - hw + m];
                }
            t = Clock::now();
            benchmark::DoNotOptimize(measure_window(ws, 5.0 * average1, 5.0 * average2));
            split.measure += seconds_since(t);
        }
    }
}

void BM_WholeRunSplit(benchmark::State& state) {
    const BenchPair& p = bench_pair();
    Split split;
    for (auto _ : state)
        replay_stage1(p, split);
    const double scale = 1e6 / (static_cast<double>(state.iterations()) * kPositions);
    state.counters["read_us"] = split.read * scale;
    state.counters["measure_us"] = split.measure * scale;
}
BENCHMARK(BM_WholeRunSplit)->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace
