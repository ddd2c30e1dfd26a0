#pragma once

#include "params/run_request.h"

#include <string>

// What the command line asks for: the run (paths kept as the bytes given)
// and how the tool shows it.
struct Options {
    RunRequest run;
    std::string pluginPath; // empty: the default plug-in
    bool quiet = false;
    bool help = false;
    bool version = false;
};

struct ParsedOptions {
    Options options;
    std::string error; // empty when the command line is usable
};

// Parses argv[1..argc-1]: "--name value" or "--name=value"; the last of a
// repeated option wins. Numbers must parse completely; sizes and counts must
// be positive. --help and --version make the
// required paths optional.
ParsedOptions parse_options(int argc, const char* const* argv);

// The --help text.
std::string usage_text();
