// The whole run on the fixed 4096 x 4096 FCOMPLEX pair, 64 x 64 windows on a
// 32 x 32 grid: time per position and positions per second of both stages,
// and the split of stage 1 between its steps.
#include "bench_support.h"
#include "estimation/corr_peak.h"
#include "estimation/interp_patch.h"
#include "estimation/patch_prep.h"
#include "estimation/slc_lines.h"
#include "tests/algorithm/run_fixture.h"

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

struct RunFiles {
    std::string off, offs, snr, listing, coffs, clisting;
};

RunFiles run_files(const BenchPair& p) {
    return {p.dir + "/pair.off",         p.dir + "/work_offs",  p.dir + "/work_snr",
            p.dir + "/work_offsets.txt", p.dir + "/work_coffs", p.dir + "/work_coffsets.txt"};
}

// Both stages as the run driver chains them, with fixed work-file names.
void BM_WholeRun(benchmark::State& state) {
    const BenchPair& p = bench_pair();
    RunFiles f = run_files(p);
    double stage1 = 0.0, stage2 = 0.0;
    for (auto _ : state) {
        copy_file(p.offPristine, f.off); // stage 1 rewrites it
        FineCoregistration algo;
        stFineCoregistrationInfo info =
            run_record(p.master, p.slave, f.off, kWindow, kGrid, kGrid, 7.0);
        SilencedStdout quiet;
        const Clock::time_point start = Clock::now();
        bool ok = FineCoregistrationTestAccess::offset_pwr(algo, info, f.offs, f.snr, f.listing);
        const double s1 = seconds_since(start);
        ok = ok && FineCoregistrationTestAccess::offset_fit(algo, info, f.offs, f.snr, f.coffs,
                                                            f.clisting);
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

// Stage 1's loop replayed step by step with the module's own reader and
// kernels and a clock around each step. What the replay does not time
// (cutting patches, the zero test, progress, file output) is the whole
// run's stage 1 time less the sum of these.
struct Split {
    double read = 0.0, ramp = 0.0, oversample = 0.0, correlate = 0.0, peak = 0.0;
};

void replay_stage1(const BenchPair& p, Split& split) {
    const int n = p.size, W = kWindow, H = kWindow, hw = W / 2, hh = H / 2;
    std::FILE* master = std::fopen(p.master.c_str(), "rb");
    std::FILE* slave = std::fopen(p.slave.c_str(), "rb");
    Block1D<unsigned char> buffer(static_cast<std::size_t>(n) * 8);
    SlcLineReader masterLines(master, n, kFcomplex, buffer.get(), "");
    SlcLineReader slaveLines(slave, n, kFcomplex, buffer.get(), "");
    Array2D<fcomplex> M1(n, H), M2(n, H);
    PositionArrays a(W, H);
    double average1 = 0.0, average2 = 0.0;
    average_intensity(masterLines, kFcomplex, n, n, &average1);
    average_intensity(slaveLines, kFcomplex, n, n, &average2);
    a.clip1 = 5.0 * average1;
    a.clip2 = 5.0 * average2;
    const int spacing = (n - 96) / (kGrid - 1);

    for (int i = 0; i < kGrid; i++) {
        const int ya = 48 + i * spacing, ys = ya + p.initialAzimuth;
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
            const int xr = 48 + j * spacing, xs = xr + p.initialRange;
            if (!(xr + hw < n && xs + hw < n && xs - hw >= 0 && xr - hw >= 0))
                continue;
            for (int r = 0; r < H; r++)
                for (int m = 0; m < W; m++) {
                    a.P1[r][m] = M1[r][xr - hw + m];
                    a.P2[r][m] = M2[r][xs - hw + m];
                }
            t = Clock::now();
            for (fcomplex** patch : {a.P1.get(), a.P2.get()}) {
                double rangeSlope = 0.0, azimuthSlope = 0.0;
                phase_slope(patch, 0, 0, W, H, &rangeSlope, &azimuthSlope);
                deramp_patch(patch, W, H, -rangeSlope, -azimuthSlope);
            }
            split.ramp += seconds_since(t);
            t = Clock::now();
            interp_patch(a.P1.get(), a.O1.get(), W, H, 2, 0);
            interp_patch(a.P2.get(), a.O2.get(), W, H, 2, 0);
            split.oversample += seconds_since(t);
            t = Clock::now();
            intensity_xcorr(a.O1.get(), a.O2.get(), a.I1.get(), a.I2.get(), a.X.get(), W, H,
                            a.clip1, a.clip2);
            split.correlate += seconds_since(t);
            t = Clock::now();
            double xoff = 0.0, yoff = 0.0;
            benchmark::DoNotOptimize(corr_peak(a.X.get(), 2 * W, 2 * H, 3, &xoff, &yoff, 0));
            split.peak += seconds_since(t);
        }
    }
    std::fclose(master);
    std::fclose(slave);
}

void BM_WholeRunSplit(benchmark::State& state) {
    const BenchPair& p = bench_pair();
    Split split;
    for (auto _ : state)
        replay_stage1(p, split);
    const double scale = 1e6 / (static_cast<double>(state.iterations()) * kPositions);
    state.counters["read_us"] = split.read * scale;
    state.counters["ramp_us"] = split.ramp * scale;
    state.counters["oversample_us"] = split.oversample * scale;
    state.counters["correlate_us"] = split.correlate * scale;
    state.counters["peak_us"] = split.peak * scale;
}
BENCHMARK(BM_WholeRunSplit)->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace
