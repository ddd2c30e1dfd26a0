#pragma once

#include <string>

// What the command line asks for. Paths are kept as the bytes given.
struct Options {
    std::string masterPath;
    std::string slavePath;
    std::string offsetParPath;
    int windowWidth = 64;
    int windowHeight = 64;
    int rangeSamples = 32;
    int azimuthSamples = 32;
    double snrThreshold = 7.0;
    bool overwrite = false;
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
