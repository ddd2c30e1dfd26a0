#pragma once

#include "slcsim.h"

#include <string>

// What the slcsim command line asks for: simulate a pair, or compare a
// fitted offset parameter file with the truth.
enum class SlcsimMode { simulate, compare };

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
};

// Parses the command line (tools/common/command_line.h): numbers must parse
// completely and lie in their ranges; --out-dir supplies every output path
// not given explicitly. Returns -1 when the command is to run, else the exit
// status (0 after --help or --version, 2 bad usage).
int parse_slcsim_command(int argc, const char* const* argv, SlcsimCommand* command);
