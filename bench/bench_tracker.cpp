// The dense tracker's cost per window against stage 1's per position, both
// with 64 x 64 windows on the fixed 2048 x 2048 pair: stage 1 on a 32 x 32
// grid (one thread), the tracker on a grid of step 64 (31 x 31 windows) on
// one and on two threads. Wall time, best of five runs (the tracker's two
// threads would count twice in process time). Prints a Markdown table.
#include "bench_support.h"
#include "estimation/offset_tracking.h"
#include "estimation/stage_one.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>

namespace {

constexpr int kWindow = 64;
constexpr int kGrid = 32;
constexpr int kRuns = 5;

double best_seconds(const std::function<void()>& run) {
    double best = 1e30;
    for (int k = 0; k < kRuns; k++) {
        const auto start = std::chrono::steady_clock::now();
        run();
        best = std::min(
            best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

double stage_one_per_position(const BenchPair& p) {
    const RunRequest request =
        bench_request(p.master, p.slave, p.dir + "/pair.off", kWindow, kGrid, kGrid);
    const WorkFiles f{p.dir + "/work_offs", p.dir + "/work_snr", p.dir + "/work_offsets.txt",
                      p.dir + "/work_coffs", p.dir + "/work_coffsets.txt"};
    QuietReporter reporter;
    return best_seconds([&] {
               copy_file(p.offPristine, request.offsetParPath);
               SilencedStdout quiet;
               if (!estimate_offsets(request, f, reporter))
                   std::fprintf(stderr, "stage 1 failed\n");
           }) /
           (kGrid * kGrid);
}

double tracker_per_window(const BenchPair& p, int threads) {
    const SlcImageFile master = open_slc_image(p.master), slave = open_slc_image(p.slave);
    TrackingRequest request;
    request.windows = {kWindow, kWindow, kWindow, kWindow, 0};
    request.gross = GrossOffset::constant(p.initialRange, p.initialAzimuth);
    request.threads = threads;
    long long windows = 0;
    const double seconds = best_seconds([&] {
        windows =
            static_cast<long long>(track_offsets(master, slave, request, nullptr).mask.size());
    });
    return seconds / static_cast<double>(windows);
}

} // namespace

int main() {
    const BenchPair& p = bench_pair(2048);
    const double stage1 = stage_one_per_position(p);
    const double one = tracker_per_window(p, 1);
    const double two = tracker_per_window(p, 2);
    std::printf("| measurement | per window (us) | against stage 1 | against 1 thread |\n"
                "|---|---|---|---|\n");
    std::printf("| stage 1 position, 1 thread | %.1f | 1.00 | |\n", stage1 * 1e6);
    std::printf("| tracker window, 1 thread | %.1f | %.2f | 1.00 |\n", one * 1e6, one / stage1);
    std::printf("| tracker window, 2 threads | %.1f | %.2f | %.3f |\n", two * 1e6, two / stage1,
                two / one);
    return 0;
}
