#pragma once

#include "slcsim.h"

#include <string>

// What the slcsim command line asks for: simulate a pair, compare a fitted
// offset parameter file with the truth, or print help or version.
enum class SlcsimMode { simulate, compare, help, version };

struct CompareRequest {
    std::string truth_path;
    std::string fitted_path;
    int width = 0;
    int lines = 0;
    double tolerance = -1.0; // negative: report only
};

struct SlcsimCommand {
    SlcsimMode mode = SlcsimMode::simulate;
    SlcSimOptions simulation; // complete, paths resolved, when mode is simulate
    std::string out_dir;      // to be created before simulating; may be empty
    CompareRequest compare;   // complete when mode is compare
    std::string error;        // empty when the command line is usable
};

// Parses argv[1..argc-1]: "--name value" or "--name=value". Numbers must
// parse completely and lie in their ranges; --out-dir supplies every output
// path not given explicitly.
SlcsimCommand parse_slcsim_command(int argc, const char* const* argv);

// The --help text.
std::string slcsim_usage();
