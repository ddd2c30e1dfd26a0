#pragma once

#include <string>

// Largest window side a run accepts: the five oversampled work arrays of
// 2W x 2H complex samples then stay below about 2.7 GB.
constexpr int kMaxWindowSide = 4096;
// Largest grid a run accepts in either direction; keeps the number of
// positions and every progress and file-size product within 32 bits.
constexpr int kMaxGridSamples = 16384;

// What one run is asked to do, independent of who asks. Paths are byte
// strings exactly as the standard file functions receive them.
struct RunRequest {
    std::string masterPath;
    std::string slavePath;
    std::string offsetParPath;
    int windowWidth = 64;
    int windowHeight = 64;
    int rangeSamples = 32;
    int azimuthSamples = 32;
    double snrThreshold = 7.0;
    bool overwrite = false; // write the fit over offsetParPath instead of beside it
    // Threads measuring stage 1's positions. 1: all on the calling thread,
    // as the plug-in runs; more give the same bytes sooner. At most
    // kMaxThreads (numeric/parallel_loop.h).
    int threads = 1;
};

// Checks a request before anything is opened or written. Returns the English
// failure message, or nullptr when the request can be run; the stages trust
// a request that passed.
const char* check_run_request(const RunRequest& request);

// Fewest estimates a final fit must keep before a user is given it: one per
// term of the offset polynomial. The plug-in keeps its own behaviour (a fit
// from fewer is a success there); every other entry point refuses it.
constexpr int kMinKeptEstimates = 6;

// The message of a final fit that kept fewer than kMinKeptEstimates.
std::string too_few_estimates_message(int kept);

// The message of a window that cannot fit in the master image of columns x
// rows, or an empty string when it fits (or the size is not a valid one: the
// stages report that in their own words).
std::string window_exceeds_image_message(const RunRequest& request, int columns, int rows);
