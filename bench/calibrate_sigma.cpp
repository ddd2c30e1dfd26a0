// The dense tracker's sigma against the scatter of its errors on simulated
// pairs: for each coherence and window size, a pair with a known polynomial
// offset (its fractional part sweeping the whole sample range across the
// scene) is tracked on a grid of non-overlapping windows, and the scatter of
// the range and azimuth errors compared with the mean reported sigma.
// Prints a Markdown table (bench/results.md keeps it).
#include "estimation/dense_tracker.h"
#include "slcsim.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct Cell {
    double scatter = 0.0, sigma = 0.0, peak = 0.0;
    int windows = 0;
};

double poly(const double c[6], double x, double y) {
    return c[0] + c[1] * x + c[2] * y + c[3] * x * y + c[4] * x * x + c[5] * y * y;
}

// Scatter: 1.4826 x the median absolute error, so that the few windows whose
// peak is lost to a side lobe at low coherence do not stand for the rest
// (the culling's outlier test removes those).
double robust_scatter(std::vector<double> errors) {
    std::vector<double> a;
    for (double e : errors)
        a.push_back(std::fabs(e));
    std::nth_element(a.begin(), a.begin() + a.size() / 2, a.end());
    return 1.4826 * a[a.size() / 2];
}

std::pair<Cell, Cell> calibrate(const std::string& dir, double coherence, int window, int size,
                                int seed) {
    const double range[6] = {2.3, 1.1e-3, 0.0, 0.0, 0.0, 0.0};
    const double azimuth[6] = {-1.6, 0.0, 0.9e-3, 0.0, 0.0, 0.0};
    SlcSimOptions o = square_pair_in(dir, size, range, azimuth);
    o.coherence = coherence;
    o.seed = static_cast<std::uint64_t>(seed);
    std::string error;
    if (!simulate_slc_pair(o, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        std::exit(1);
    }
    const SlcImageFile m = open_slc_image(o.master_path), s = open_slc_image(o.slave_path);
    TrackerWindows w;
    w.width = w.height = window;
    w.stepRange = w.stepAzimuth = window / 2;
    const OffsetField grid = lay_out_tracking_grid(w, size, size);
    ThreadTeam team(2);
    const DenseOffsets d =
        track_windows(m, s, GrossOffset::constant(2, -2), w, grid, team, nullptr);
    std::vector<double> er, ea;
    Cell r, a;
    for (int i = 0; i < grid.rows; i++)
        for (int j = 0; j < grid.columns; j++) {
            const std::size_t k = grid.index(i, j);
            if (d.state(k) != WindowState::good)
                continue;
            const double x = grid.firstRange + j * grid.stepRange;
            const double y = grid.firstAzimuth + i * grid.stepAzimuth;
            er.push_back(d.offsets.range[k] - poly(range, x, y));
            ea.push_back(d.offsets.azimuth[k] - poly(azimuth, x, y));
            r.sigma += d.rangeSigma[k];
            r.peak += d.peak[k];
            a.sigma += d.azimuthSigma[k];
        }
    r.windows = a.windows = static_cast<int>(er.size());
    r.sigma /= r.windows;
    r.peak /= r.windows;
    a.sigma /= a.windows;
    r.scatter = robust_scatter(er);
    a.scatter = robust_scatter(ea);
    return {r, a};
}

} // namespace

int main(int argc, char** argv) {
    const int size = argc > 1 ? std::atoi(argv[1]) : 1024;
    char dir[] = "/tmp/fc_calibrate_XXXXXX";
    if (::mkdtemp(dir) == nullptr)
        return 1;
    std::printf(
        "| coherence | window | windows | mean peak | range scatter | range sigma | ratio | "
        "azimuth scatter | azimuth sigma | ratio |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|\n");
    int seed = argc > 2 ? std::atoi(argv[2]) : 7;
    for (const double coherence : {0.4, 0.6, 0.8, 0.9, 0.95})
        for (const int window : {32, 64, 128}) {
            const auto [r, a] = calibrate(dir, coherence, window, size, seed++);
            std::printf("| %.2f | %d | %d | %.3f | %.4f | %.4f | %.2f | %.4f | %.4f | %.2f |\n",
                        coherence, window, r.windows, r.peak, r.scatter, r.sigma,
                        r.sigma / r.scatter, a.scatter, a.sigma, a.sigma / a.scatter);
            std::fflush(stdout);
        }
    for (const char* f :
         {"master.slc", "master.xml", "slave.slc", "slave.xml", "pair.off", "truth.off"})
        std::remove((std::string(dir) + "/" + f).c_str());
    ::rmdir(dir);
    return 0;
}
