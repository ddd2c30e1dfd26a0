#pragma once

// Shared pieces of the benchmarks: per-position work arrays filled with
// speckle, standard output silenced while the module prints its
// diagnostics, and the fixed simulated pair of the whole-run benchmark.
#include "estimation/measure_window.h"
#include "numeric/alloc.h"
#include "numeric/fcomplex.h"
#include "params/run_request.h"
#include "params/stage_reporter.h"

#include <string>

// The arrays of one grid position, sized for a W x H window, with the
// oversampling filter and the peak-fit state set up for that size. The
// master patch is speckle; the slave patch is the same speckle moved by a
// few samples and lines, so the surface has a real peak.
struct PositionArrays {
    PositionArrays(int W, int H);

    // Refills the patches with the originals (the chain works in place).
    void restore_patches();
    // The whole chain of one position (measure_window); returns the SNR.
    double run_position();

    int W, H;
    Array2D<fcomplex> masterPatch, slavePatch; // originals
    // Arrays of the single-kernel benchmarks.
    Array2D<fcomplex> P1, P2, O1, O2, I1, I2, X;
    WindowWorkspace workspace;
    double clip1 = 0.0, clip2 = 0.0;
};

// A stage reporter that shows nothing.
struct QuietReporter : StageReporter {
    void progress(double) override {}
    void failure(const char*) override {}
};

RunRequest bench_request(const std::string& master, const std::string& slave,
                         const std::string& offsetPar, int window, int rangeSamples,
                         int azimuthSamples);

// Redirects standard output to /dev/null for its lifetime.
class SilencedStdout {
public:
    SilencedStdout();
    ~SilencedStdout();
    SilencedStdout(const SilencedStdout&) = delete;
    SilencedStdout& operator=(const SilencedStdout&) = delete;

private:
    int saved_;
};

// The fixed pairs of the whole-run benchmark: size x size FCOMPLEX, written
// once by the simulator into "pair_<size>" under the directory named by
// FC_BENCH_PAIR_DIR (or "bench-pair" in the working directory) and reused
// afterwards.
struct BenchPair {
    std::string dir;
    std::string master, slave, offPristine;
    int size = 0;
    int initialRange = 0, initialAzimuth = 0;
};
const BenchPair& bench_pair(int size);
void copy_file(const std::string& from, const std::string& to);
