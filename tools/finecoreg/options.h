#pragma once

#include "params/run_request.h"

#include <string>

// What the command line asks for: the run (paths kept as the bytes given)
// and how the tool shows it.
struct Options {
    RunRequest run;
    std::string pluginPath; // empty: the default plug-in
    bool quiet = false;
};

// Parses the command line (tools/common/command_line.h): numbers must parse
// completely, sizes and counts be positive. Returns -1 when the run is to
// go ahead, else the exit status (0 after --help or --version, 2 bad usage).
int parse_options(int argc, const char* const* argv, Options* o);
