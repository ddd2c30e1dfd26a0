#include "bench_support.h"

#include "estimation/corr_peak.h"
#include "estimation/interp_patch.h"
#include "tools/slcsim/gaussian_source.h"
#include "tools/slcsim/slcsim.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <random>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

PositionArrays::PositionArrays(int W, int H)
    : W(W), H(H), masterPatch(W, H), slavePatch(W, H), P1(W, H), P2(W, H), O1(2 * W, 2 * H),
      O2(2 * W, 2 * H), I1(2 * W, 2 * H), I2(2 * W, 2 * H), X(2 * W, 2 * H), workspace(W, H) {
    constexpr int kShiftX = 3, kShiftY = 2;
    const std::vector<fcomplex> field =
        slcsim::white_speckle(static_cast<std::size_t>(W + kShiftX) * (H + kShiftY), 4242, 50.0);
    const int stride = W + kShiftX;
    for (int r = 0; r < H; r++)
        for (int c = 0; c < W; c++) {
            masterPatch[r][c] = field[static_cast<std::size_t>(r) * stride + c];
            slavePatch[r][c] = field[static_cast<std::size_t>(r + kShiftY) * stride + c + kShiftX];
        }
    clip1 = clip2 = 5.0 * 50.0;
    double xoff = 0.0, yoff = 0.0;
    SilencedStdout quiet;
    interp_patch(P1.get(), O1.get(), W, H, 2, 1);
    corr_peak(X.get(), 2 * W, 2 * H, 3, &xoff, &yoff, 1);
    restore_patches();
}

void PositionArrays::restore_patches() {
    for (int r = 0; r < H; r++)
        for (int c = 0; c < W; c++) {
            P1[r][c] = workspace.master_patch()[r][c] = masterPatch[r][c];
            P2[r][c] = workspace.slave_patch()[r][c] = slavePatch[r][c];
        }
}

SilencedStdout::SilencedStdout() {
    std::fflush(stdout);
    saved_ = ::dup(STDOUT_FILENO);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDOUT_FILENO);
    ::close(null);
}

SilencedStdout::~SilencedStdout() {
    std::fflush(stdout);
    ::dup2(saved_, STDOUT_FILENO);
    ::close(saved_);
}

namespace {

bool exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

BenchPair make_pair(int size) {
    BenchPair p;
    const char* env = std::getenv("FC_BENCH_PAIR_DIR");
    const std::string base = env ? env : "bench-pair";
    ::mkdir(base.c_str(), 0755);
    p.dir = base + "/pair_" + std::to_string(size);
    ::mkdir(p.dir.c_str(), 0755);
    p.size = size;
    p.master = p.dir + "/master.slc";
    p.slave = p.dir + "/slave.slc";
    p.offPristine = p.dir + "/pristine.off";
    p.initialRange = 2;
    p.initialAzimuth = -2;
    if (exists(p.offPristine))
        return p;

    SlcSimOptions sim;
    sim.width = p.size;
    sim.lines = p.size;
    sim.format = SampleFormat::fcomplex;
    const double range[6] = {1.8, 0.2e-3, 0.1e-3, 0.02e-6, -0.03e-6, 0.02e-6};
    const double azimuth[6] = {-2.3, -0.1e-3, 0.3e-3, -0.02e-6, 0.03e-6, -0.04e-6};
    std::copy(range, range + 6, sim.range_offset_polynomial);
    std::copy(azimuth, azimuth + 6, sim.azimuth_offset_polynomial);
    sim.coherence = 0.8;
    sim.seed = 99;
    sim.initial_range_offset = p.initialRange;
    sim.initial_azimuth_offset = p.initialAzimuth;
    sim.master_path = p.master;
    sim.slave_path = p.slave;
    sim.offset_par_path = p.dir + "/pair.off";
    sim.truth_path = p.dir + "/truth.off";
    std::string error;
    if (!simulate_slc_pair(sim, &error))
        throw std::runtime_error("simulating the benchmark pair: " + error);
    copy_file(sim.offset_par_path, p.offPristine); // last: marks the pair complete
    return p;
}

} // namespace

const BenchPair& bench_pair(int size) {
    static std::map<int, BenchPair> pairs;
    auto found = pairs.find(size);
    if (found == pairs.end())
        found = pairs.emplace(size, make_pair(size)).first;
    return found->second;
}

void copy_file(const std::string& from, const std::string& to) {
    std::ifstream in(from, std::ios::binary);
    std::ofstream out(to, std::ios::binary | std::ios::trunc);
    out << in.rdbuf();
}

double PositionArrays::run_position() {
    return measure_window(workspace, clip1, clip2).snr;
}

RunRequest bench_request(const std::string& master, const std::string& slave,
                         const std::string& offsetPar, int window, int rangeSamples,
                         int azimuthSamples) {
    RunRequest r;
    r.masterPath = master;
    r.slavePath = slave;
    r.offsetParPath = offsetPar;
    r.windowWidth = r.windowHeight = window;
    r.rangeSamples = rangeSamples;
    r.azimuthSamples = azimuthSamples;
    return r;
}
