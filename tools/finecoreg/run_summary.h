#pragma once

#include "params/run_request.h"

#include <cstdio>
#include <string>
#include <vector>

// Figures of the final fit, picked from the module's own stage 2 report on
// standard output (the work files holding them are gone after a success).
struct FitReport {
    bool haveCounts = false;
    int accepted = 0;
    int samples = 0;
    bool haveScatter = false;
    double rangeStdDev = 0.0;
    double azimuthStdDev = 0.0;
    std::string heldTerms;       // terms held at zero as not determined, by name
    std::vector<float> measured; // offset, offset, SNR of each grid position, as printed

    // Looks at one line of the module's output.
    void take_line(const std::string& line);
};

// Prints the run's summary: where the fitted offset parameters went, their
// polynomials, the fit's figures and the offsets the polynomials give at the
// master image's corners and centre (its size from masterXmlPath).
void print_summary(std::FILE* out, const std::string& fittedOffsetParPath, const FitReport& fit,
                   const std::string& masterXmlPath);

// The terms (by name) that the positions above the request's SNR threshold
// do not determine, for a fit the plug-in made with all six: the transcript's
// measurements on the request's grid. Culling is not known here, so this
// judges the accepted, not the kept, positions. Empty when all are
// determined or nothing can be judged.
std::string undetermined_terms(const FitReport& fit, const RunRequest& request,
                               const std::string& masterXmlPath);
