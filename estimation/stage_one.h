#pragma once

#include "params/estimation_grid.h"
#include "params/file_naming.h"
#include "params/run_request.h"
#include "params/stage_reporter.h"

#include <vector>

// What stage 1 measured at every grid position, row-major (azimuthSamples
// rows of rangeSamples): the offsets as written to the binary offsets file
// (0 where no estimate was accepted), the SNR (0 where nothing was measured)
// and whether the estimate was accepted.
struct OffsetMeasurements {
    EstimationGrid grid;
    int masterWidth = 0;
    int masterLines = 0;
    std::vector<float> rangeOffset;
    std::vector<float> azimuthOffset;
    std::vector<float> snr;
    std::vector<unsigned char> accepted;
    long long acceptedCount = 0;
};

// Stage 1: measures the slave's offset at every grid position of the master
// and writes the rows to files.offsets, files.snr and files.listing; then
// rewrites the offset parameter file with the grid and the run's window and
// threshold. The request has passed check_run_request. Prints the module's
// diagnostics on standard output; reports progress before each measured
// position, and a failure once. Fills measurements when one is given.
[[nodiscard]] bool estimate_offsets(const RunRequest& request, const WorkFiles& files,
                                    StageReporter& reporter,
                                    OffsetMeasurements* measurements = nullptr);
