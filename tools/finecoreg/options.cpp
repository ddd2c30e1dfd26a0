#include "options.h"

#include "command_line.h"

#include <climits>
#include <vector>

namespace {

enum class Kind { Path, Count, Number, Flag };

struct OptionEntry {
    const char* name;
    Kind kind;
};

constexpr OptionEntry kOptions[] = {
    {"--master", Kind::Path},
    {"--slave", Kind::Path},
    {"--off", Kind::Path},
    {"--window-width", Kind::Count},
    {"--window-height", Kind::Count},
    {"--range-samples", Kind::Count},
    {"--azimuth-samples", Kind::Count},
    {"--snr-threshold", Kind::Number},
    {"--overwrite", Kind::Flag},
    {"--threads", Kind::Count},
    {"--plugin", Kind::Path},
    {"--quiet", Kind::Flag},
    {"--help", Kind::Flag},
    {"--version", Kind::Flag},
};

std::vector<OptionSpec> option_table() {
    std::vector<OptionSpec> table;
    for (const OptionEntry& entry : kOptions)
        table.push_back({entry.name, entry.kind != Kind::Flag});
    return table;
}

Kind kind_of(const std::string& name) {
    for (const OptionEntry& entry : kOptions)
        if (name == entry.name)
            return entry.kind;
    return Kind::Flag;
}

bool parse_count(const std::string& text, int* value) {
    long n = 0;
    if (!parse_whole_number(text, &n) || n < 1 || n > INT_MAX)
        return false;
    *value = static_cast<int>(n);
    return true;
}

int* count_field(Options& o, const std::string& name) {
    if (name == "--window-width")
        return &o.run.windowWidth;
    if (name == "--window-height")
        return &o.run.windowHeight;
    if (name == "--range-samples")
        return &o.run.rangeSamples;
    if (name == "--threads")
        return &o.run.threads;
    return &o.run.azimuthSamples;
}

std::string* path_field(Options& o, const std::string& name) {
    if (name == "--master")
        return &o.run.masterPath;
    if (name == "--slave")
        return &o.run.slavePath;
    if (name == "--off")
        return &o.run.offsetParPath;
    return &o.pluginPath;
}

bool* flag_field(Options& o, const std::string& name) {
    if (name == "--overwrite")
        return &o.run.overwrite;
    if (name == "--quiet")
        return &o.quiet;
    if (name == "--help")
        return &o.help;
    return &o.version;
}

// Applies one option and its value; returns the error text, empty if fine.
std::string apply(Options& o, const std::string& name, const std::string& value) {
    switch (kind_of(name)) {
    case Kind::Path:
        if (value.empty())
            return "option " + name + " needs a non-empty path";
        *path_field(o, name) = value;
        return {};
    case Kind::Count:
        if (!parse_count(value, count_field(o, name)))
            return "option " + name + ": '" + value + "' is not a positive whole number";
        return {};
    case Kind::Number:
        if (!parse_finite_number(value, &o.run.snrThreshold))
            return "option " + name + ": '" + value + "' is not a number";
        return {};
    case Kind::Flag:
        *flag_field(o, name) = true;
        return {};
    }
    return {};
}

std::string missing_required(const Options& o) {
    std::string missing;
    auto need = [&missing](const std::string& value, const char* name) {
        if (value.empty())
            missing += missing.empty() ? name : std::string(", ") + name;
    };
    need(o.run.masterPath, "--master");
    need(o.run.slavePath, "--slave");
    need(o.run.offsetParPath, "--off");
    if (missing.empty())
        return {};
    const bool several = missing.find(',') != std::string::npos;
    return std::string(several ? "missing required options " : "missing required option ") +
           missing;
}

} // namespace

ParsedOptions parse_options(int argc, const char* const* argv) {
    ParsedOptions result;
    GivenOptions given;
    const std::string split = split_options(argc, argv, option_table(), &given);
    // Options before a misplaced argument are still applied in order, so the
    // first problem on the line is the one reported.
    for (const auto& [name, value] : given) {
        result.error = apply(result.options, name, value);
        if (!result.error.empty())
            return result;
    }
    if (!split.empty()) {
        result.error = split;
        return result;
    }
    if (!result.options.help && !result.options.version)
        result.error = missing_required(result.options);
    return result;
}

std::string usage_text() {
    return "Usage: finecoreg --master PATH --slave PATH --off PATH [options]\n"
           "\n"
           "Fine co-registration of a slave SLC image to a master SLC image: measures the\n"
           "offsets on a grid and fits the range and azimuth offset polynomials. Each image\n"
           "needs its XML parameter file beside it (the path up to its last '.' + \".xml\").\n"
           "\n"
           "Required:\n"
           "  --master PATH          master SLC image\n"
           "  --slave PATH           slave SLC image\n"
           "  --off PATH             offset parameter file holding the coarse offsets\n"
           "\n"
           "Options (also accepted as --name=value):\n"
           "  --window-width N       correlation window width in samples (default 64)\n"
           "  --window-height N      correlation window height in lines (default 64)\n"
           "  --range-samples N      number of offset estimates in range (default 32)\n"
           "  --azimuth-samples N    number of offset estimates in azimuth (default 32)\n"
           "  --snr-threshold X      SNR an estimate must exceed to be kept (default 7.0)\n"
           "  --overwrite            write the fitted offset parameters over the --off file\n"
           "                         instead of beside it, named <off up to its last '.'>_new.off\n"
           "  --threads N            measure on N threads in this process (default 1: the\n"
           "                         plug-in, on the calling thread, as the platform runs it)\n"
           "  --plugin PATH          the plug-in to load (default: the one installed beside\n"
           "                         the tool, else the one built with it); runs on one thread\n"
           "  --quiet                no progress display\n"
           "  --help                 show this text\n"
           "  --version              show the version\n"
           "\n"
           "Exit status: 0 success, 1 failure (a missing input file, a plug-in that cannot\n"
           "be loaded, or a failed run; the reason on standard error), 2 bad usage.\n"
           "A fatal numerical error inside the module ends the process with status 255.\n";
}
