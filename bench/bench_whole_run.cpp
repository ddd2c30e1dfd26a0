// The whole run on a fixed FCOMPLEX pair of 2048 x 2048 (windows side by
// side) and of 4096 x 4096 (half of every line between windows), 64 x 64
// windows on a 32 x 32 grid: time per position and positions per second of
// both stages, and the split of stage 1 between its steps.
#include "bench_support.h"
#include "estimation/measure_window.h"
#include "estimation/slc_lines.h"
#if __has_include("estimation/row_lines.h")
#include "estimation/row_lines.h"
#define FC_HAVE_ROW_LINES 1
#endif
#include "estimation/stage_one.h"
#include "fitting/stage_two.h"
#include "params/estimation_grid.h"
#include "params/file_handle.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <ctime>
#include <string>
#include <utility>

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
    const BenchPair& p = bench_pair(static_cast<int>(state.range(0)));
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
BENCHMARK(BM_WholeRun)
    ->Arg(2048)
    ->Arg(4096)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

#if __has_include("estimation/row_pipeline.h")
// The whole run with stage 1 on state.range(1) threads, in wall time (the
// threads' CPU times add up): the speed-up of more cores on one pair.
void BM_WholeRunThreads(benchmark::State& state) {
    const BenchPair& p = bench_pair(static_cast<int>(state.range(0)));
    const WorkFiles f = work_files(p);
    RunRequest request =
        bench_request(p.master, p.slave, p.dir + "/pair.off", kWindow, kGrid, kGrid);
    request.threads = static_cast<int>(state.range(1));
    QuietReporter reporter;
    double stage1 = 0.0, total = 0.0;
    for (auto _ : state) {
        copy_file(p.offPristine, request.offsetParPath);
        SilencedStdout quiet;
        const auto start = std::chrono::steady_clock::now();
        bool ok = estimate_offsets(request, f, reporter);
        const std::chrono::duration<double> s1 = std::chrono::steady_clock::now() - start;
        ok = ok && fit_offsets(request, f, reporter);
        const std::chrono::duration<double> all = std::chrono::steady_clock::now() - start;
        if (!ok) {
            state.SkipWithError("the run failed");
            break;
        }
        stage1 += s1.count();
        total += all.count();
        state.SetIterationTime(all.count());
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["wall_per_position_us"] = total / n / kPositions * 1e6;
    state.counters["stage1_wall_per_position_us"] = stage1 / n / kPositions * 1e6;
}
BENCHMARK(BM_WholeRunThreads)
    ->Args({2048, 1})
    ->Args({2048, 2})
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
#endif

// Stage 1's loop replayed with the module's own reader and measure_window
// and a clock around reading, cutting windows and measuring. What the replay
// does not time (the no-data test, progress, file output) is the whole run's
// stage 1 time less the sum of these; the kernel benchmarks split the
// measurement further.
struct Split {
    double read = 0.0, cut = 0.0, measure = 0.0;
};

#ifndef FC_HAVE_ROW_LINES
// Trees from before the row reader: the lines as their stage 1 read and cut
// them, one by one.
class RowLines {
public:
    RowLines(int masterWidth, int slaveWidth, int height)
        : master_(masterWidth, height), slave_(slaveWidth, height), height_(height) {}
    void read(SlcLineReader& masterLines, int firstMaster, SlcLineReader& slaveLines,
              int firstSlave) {
        masterLines.seek_line(firstMaster);
        for (int r = 0; r < height_; r++)
            masterLines.read_line_into(master_[r]);
        slaveLines.seek_line(firstSlave);
        for (int r = 0; r < height_; r++)
            slaveLines.read_line_into(slave_[r]);
    }
    void cut_windows(int masterSample, int slaveSample, WindowWorkspace& ws) const {
        const int w = ws.width();
        for (int r = 0; r < height_; r++)
            for (int m = 0; m < w; m++) {
                ws.master_patch()[r][m] = master_[r][masterSample - w / 2 + m];
                ws.slave_patch()[r][m] = slave_[r][slaveSample - w / 2 + m];
            }
    }

private:
    Array2D<fcomplex> master_, slave_;
    int height_;
};
#endif

// A row's read in the tree built: by position with a warnings sink, or
// (older trees) through the readers' streams.
template <class Lines>
auto read_row(Lines& lines, SlcLineReader& m, int firstMaster, SlcLineReader& s, int firstSlave,
              int)
    -> decltype(lines.read(m, firstMaster, s, firstSlave, std::declval<std::string&>())) {
    std::string warnings;
    return lines.read(m, firstMaster, s, firstSlave, warnings);
}
template <class Lines>
void read_row(Lines& lines, SlcLineReader& m, int firstMaster, SlcLineReader& s, int firstSlave,
              long) {
    lines.read(m, firstMaster, s, firstSlave);
}

void replay_stage1(const BenchPair& p, Split& split) {
    const int n = p.size, W = kWindow, H = kWindow, hw = W / 2, hh = H / 2;
    const FileHandle master = open_file(p.master, "rb");
    const FileHandle slave = open_file(p.slave, "rb");
    Block1D<unsigned char> buffer(static_cast<std::size_t>(n) * 8);
    SlcLineReader masterLines(master.get(), n, SampleFormat::fcomplex, buffer.get(), "");
    SlcLineReader slaveLines(slave.get(), n, SampleFormat::fcomplex, buffer.get(), "");
    RowLines lines(n, n, H);
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
        read_row(lines, masterLines, ya - hh, slaveLines, ys - hh, 0);
        split.read += seconds_since(t);

        for (int j = 0; j < kGrid; j++) {
            const int xr = static_cast<int>(grid.range_position(j)), xs = xr + p.initialRange;
            if (!(xr + hw < n && xs + hw < n && xs - hw >= 0 && xr - hw >= 0))
                continue;
            t = Clock::now();
            lines.cut_windows(xr, xs, ws);
            split.cut += seconds_since(t);
            t = Clock::now();
            benchmark::DoNotOptimize(measure_window(ws, 5.0 * average1, 5.0 * average2));
            split.measure += seconds_since(t);
        }
    }
}

void BM_WholeRunSplit(benchmark::State& state) {
    const BenchPair& p = bench_pair(static_cast<int>(state.range(0)));
    Split split;
    for (auto _ : state)
        replay_stage1(p, split);
    const double scale = 1e6 / (static_cast<double>(state.iterations()) * kPositions);
    state.counters["read_us"] = split.read * scale;
    state.counters["cut_us"] = split.cut * scale;
    state.counters["measure_us"] = split.measure * scale;
}
BENCHMARK(BM_WholeRunSplit)->Arg(2048)->Arg(4096)->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace
