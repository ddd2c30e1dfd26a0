#pragma once

#include "ingest/ingest.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// A command line that cannot be run (exit status 2).
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct ImportOptions {
    enum class Mode { help, image, pair };
    Mode mode = Mode::help;
    std::vector<std::string> paths; // IN OUT for image; MASTER SLAVE OUTDIR for pair
    int band = 1;
    std::optional<ingest::Window> window;
    std::optional<ingest::IntegerOffset> offset; // pair only
};

// The arguments after the program name; throws UsageError.
ImportOptions parse_import_options(const std::vector<std::string>& args);

extern const char* const kImportUsage;
