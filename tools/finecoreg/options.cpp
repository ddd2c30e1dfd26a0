#include "options.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>

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
    {"--plugin", Kind::Path},
    {"--quiet", Kind::Flag},
    {"--help", Kind::Flag},
    {"--version", Kind::Flag},
};

const OptionEntry* find_option(const std::string& name) {
    for (const OptionEntry& entry : kOptions)
        if (name == entry.name)
            return &entry;
    return nullptr;
}

// strtol and strtod skip leading blanks; a value must be the number alone.
bool starts_clean(const std::string& text) {
    return !text.empty() && text[0] != ' ' && text[0] != '\t' && text[0] != '\n';
}

bool parse_count(const std::string& text, int* value) {
    if (!starts_clean(text))
        return false;
    errno = 0;
    char* end = nullptr;
    const long n = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || n < 1 || n > INT_MAX)
        return false;
    *value = static_cast<int>(n);
    return true;
}

bool parse_number(const std::string& text, double* value) {
    if (!starts_clean(text))
        return false;
    errno = 0;
    char* end = nullptr;
    const double x = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(x))
        return false;
    *value = x;
    return true;
}

int* count_field(Options& o, const std::string& name) {
    if (name == "--window-width")
        return &o.windowWidth;
    if (name == "--window-height")
        return &o.windowHeight;
    if (name == "--range-samples")
        return &o.rangeSamples;
    return &o.azimuthSamples;
}

std::string* path_field(Options& o, const std::string& name) {
    if (name == "--master")
        return &o.masterPath;
    if (name == "--slave")
        return &o.slavePath;
    if (name == "--off")
        return &o.offsetParPath;
    return &o.pluginPath;
}

bool* flag_field(Options& o, const std::string& name) {
    if (name == "--overwrite")
        return &o.overwrite;
    if (name == "--quiet")
        return &o.quiet;
    if (name == "--help")
        return &o.help;
    return &o.version;
}

// Applies one option and its value; returns the error text, empty if fine.
std::string apply(Options& o, const OptionEntry& entry, const std::string& value) {
    const std::string name = entry.name;
    switch (entry.kind) {
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
        if (!parse_number(value, &o.snrThreshold))
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
    need(o.masterPath, "--master");
    need(o.slavePath, "--slave");
    need(o.offsetParPath, "--off");
    if (missing.empty())
        return {};
    const bool several = missing.find(',') != std::string::npos;
    return std::string(several ? "missing required options " : "missing required option ") +
           missing;
}

} // namespace

ParsedOptions parse_options(int argc, const char* const* argv) {
    ParsedOptions result;
    for (int i = 1; i < argc; i++) {
        const std::string arg = argv[i];
        if (arg.compare(0, 2, "--") != 0 || arg == "--") {
            result.error = "unexpected argument '" + arg + "'";
            return result;
        }
        const std::size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        const OptionEntry* entry = find_option(name);
        if (!entry) {
            result.error = "unknown option '" + name + "'";
            return result;
        }
        std::string value;
        if (entry->kind == Kind::Flag) {
            if (equals != std::string::npos) {
                result.error = "option " + name + " takes no value";
                return result;
            }
        } else if (equals != std::string::npos) {
            value = arg.substr(equals + 1);
        } else if (i + 1 < argc && std::string(argv[i + 1]).compare(0, 2, "--") != 0) {
            value = argv[++i];
        } else {
            result.error = "option " + name + " needs a value";
            return result;
        }
        result.error = apply(result.options, *entry, value);
        if (!result.error.empty())
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
           "  --plugin PATH          the plug-in to load (default: the one installed beside\n"
           "                         the tool, else the one built with it)\n"
           "  --quiet                no progress display\n"
           "  --help                 show this text\n"
           "  --version              show the version\n"
           "\n"
           "Exit status: 0 success, 1 failure (a missing input file, a plug-in that cannot\n"
           "be loaded, or a failed run; the reason on standard error), 2 bad usage.\n"
           "A fatal numerical error inside the module ends the process with status 255.\n";
}
