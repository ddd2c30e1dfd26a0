#pragma once

#include "params/file_naming.h"
#include "params/run_request.h"
#include "params/stage_reporter.h"

#include <string>
#include <vector>

// Stage 2's fit of the two offset polynomials (terms 1, x, y, x*y, x^2, y^2
// at master range sample x and line y).
struct OffsetFit {
    double rangePolynomial[6] = {};
    double azimuthPolynomial[6] = {};
    double rangeErrors[6] = {};
    double azimuthErrors[6] = {};
    double rangeStdDev = 0.0;          // samples
    double azimuthStdDev = 0.0;        // lines
    int samples = 0;                   // grid positions
    int measurements = 0;              // usable measurements read from the work files
    int kept = 0;                      // measurements the culling kept
    int passes = 0;                    // culling passes
    std::vector<unsigned char> keptAt; // per grid position, row-major
    unsigned heldTerms = 0;            // bit k: term k held at zero, not determined
                                       // (stage 2 holds none; the run driver may)
    std::string fittedOffsetParPath;
};

// Stage 2: fits the polynomials to the measurements in files.offsets and
// files.snr, culls outliers and weak measurements in passes until the
// scatter settles, writes files.culledOffsets, files.culledListing and the
// fitted offset parameter file (over the request's, or beside it). Prints
// the module's diagnostics on standard output; reports a failure once.
// Fills fit when one is given.
[[nodiscard]] bool fit_offsets(const RunRequest& request, const WorkFiles& files,
                               StageReporter& reporter, OffsetFit* fit = nullptr);

// The formats of stage 2's closing lines, for readers of its transcript.
constexpr const char* kFinalSolutionFormat =
    "final solution: %d offset estimates accepted out of %d samples\n";
constexpr const char* kFinalStdDevFormat =
    "\n\nfinal model fit std. dev. (samples) range: %10.4f  azimuth: %10.4f\n";
