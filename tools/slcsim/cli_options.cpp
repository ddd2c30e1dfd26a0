#include "cli_options.h"

#include "command_line.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <map>
#include <vector>

namespace {

enum class Kind { flag, value };
// Which mode an option belongs to; `any` options serve both.
enum class Scope { simulate, compare, any };

struct OptionEntry {
    const char* name;
    Kind kind;
    Scope scope;
};

constexpr OptionEntry kOptions[] = {
    {"--width", Kind::value, Scope::any},
    {"--lines", Kind::value, Scope::any},
    {"--truth", Kind::value, Scope::any},
    {"--format", Kind::value, Scope::simulate},
    {"--range-poly", Kind::value, Scope::simulate},
    {"--azimuth-poly", Kind::value, Scope::simulate},
    {"--coherence", Kind::value, Scope::simulate},
    {"--occupancy", Kind::value, Scope::simulate},
    {"--doppler", Kind::value, Scope::simulate},
    {"--seed", Kind::value, Scope::simulate},
    {"--coarse-range", Kind::value, Scope::simulate},
    {"--coarse-azimuth", Kind::value, Scope::simulate},
    {"--out-dir", Kind::value, Scope::simulate},
    {"--master", Kind::value, Scope::simulate},
    {"--slave", Kind::value, Scope::simulate},
    {"--off", Kind::value, Scope::simulate},
    {"--compare", Kind::flag, Scope::compare},
    {"--fitted", Kind::value, Scope::compare},
    {"--tolerance", Kind::value, Scope::compare},
    {"--help", Kind::flag, Scope::any},
    {"--version", Kind::flag, Scope::any},
};

// Largest constant offset accepted: keeps the rounded coarse offset an int
// and the simulated field within memory long before that.
constexpr double kMaxConstantOffset = 1.0e6;

const OptionEntry* find_option(const std::string& name) {
    for (const OptionEntry& entry : kOptions)
        if (name == entry.name)
            return &entry;
    return nullptr;
}

bool parse_seed(const std::string& text, std::uint64_t* value) {
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0])))
        return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long n = std::strtoull(text.c_str(), &end, 10);
    *value = n;
    return errno == 0 && *end == '\0';
}

// One to six comma-separated coefficients c0, c1, ...; the rest are zero.
bool parse_polynomial(const std::string& text, double coefficients[6]) {
    double parsed[6] = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
    std::size_t start = 0;
    for (int i = 0;; i++) {
        const std::size_t comma = text.find(',', start);
        if (i == 6 || !parse_finite_number(text.substr(start, comma - start), &parsed[i]))
            return false;
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    if (std::fabs(parsed[0]) > kMaxConstantOffset)
        return false;
    std::copy(parsed, parsed + 6, coefficients);
    return true;
}

bool parse_format(std::string text, SampleFormat* format) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (text == "FCOMPLEX")
        *format = SampleFormat::fcomplex;
    else if (text == "SCOMPLEX")
        *format = SampleFormat::scomplex;
    else
        return false;
    return true;
}

std::string bad_value(const std::string& name, const std::string& value, const char* expected) {
    return "option " + name + ": '" + value + "' is not " + expected;
}

using Given = std::map<std::string, std::string>;

// Splits the arguments into options and values; last occurrence wins.
std::string collect(int argc, const char* const* argv, Given* given) {
    std::vector<OptionSpec> table;
    for (const OptionEntry& entry : kOptions)
        table.push_back({entry.name, entry.kind == Kind::value});
    GivenOptions options;
    const std::string error = split_options(argc, argv, table, &options);
    for (const auto& [name, value] : options)
        (*given)[name] = value;
    return error;
}

std::string check_scope(const Given& given, Scope mode) {
    for (const auto& [name, value] : given) {
        const Scope scope = find_option(name)->scope;
        if (scope == Scope::any || scope == mode)
            continue;
        return mode == Scope::compare ? "option " + name + " does not apply to --compare"
                                      : "option " + name + " needs --compare";
    }
    return {};
}

// The image size, shared by both modes.
std::string parse_size(const Given& given, int* width, int* lines) {
    for (const char* name : {"--width", "--lines"}) {
        const auto it = given.find(name);
        if (it == given.end())
            continue;
        long n = 0;
        if (!parse_whole_number(it->second, &n) || n < 1 || n > INT_MAX)
            return bad_value(name, it->second, "a positive whole number");
        *(std::string(name) == "--width" ? width : lines) = static_cast<int>(n);
    }
    return {};
}

std::string parse_compare(const Given& given, CompareRequest* request) {
    for (const char* name : {"--truth", "--fitted", "--width", "--lines"})
        if (given.count(name) == 0)
            return std::string("--compare needs option ") + name;
    request->truth_path = given.at("--truth");
    request->fitted_path = given.at("--fitted");
    if (const auto it = given.find("--tolerance"); it != given.end())
        if (!parse_finite_number(it->second, &request->tolerance) || !(request->tolerance > 0.0))
            return bad_value("--tolerance", it->second, "a positive number");
    return parse_size(given, &request->width, &request->lines);
}

std::string parse_simulation_numbers(const Given& given, SlcSimOptions* o) {
    for (const auto& [name, value] : given) {
        if (name == "--format" && !parse_format(value, &o->format))
            return bad_value(name, value, "FCOMPLEX or SCOMPLEX");
        if (name == "--range-poly" && !parse_polynomial(value, o->range_offset_polynomial))
            return bad_value(name, value, "a list of one to six numbers c0,c1,...,c5");
        if (name == "--azimuth-poly" && !parse_polynomial(value, o->azimuth_offset_polynomial))
            return bad_value(name, value, "a list of one to six numbers c0,c1,...,c5");
        if (name == "--coherence" && (!parse_finite_number(value, &o->coherence) ||
                                      !(o->coherence > 0.0 && o->coherence <= 1.0)))
            return bad_value(name, value, "a number in (0, 1]");
        if (name == "--occupancy" && (!parse_finite_number(value, &o->occupancy) ||
                                      !(o->occupancy > 0.0 && o->occupancy <= 1.0)))
            return bad_value(name, value, "a number in (0, 1]");
        if (name == "--doppler" &&
            (!parse_finite_number(value, &o->doppler) || !(o->doppler > -0.5 && o->doppler < 0.5)))
            return bad_value(name, value, "a number in (-0.5, 0.5)");
        if (name == "--seed" && !parse_seed(value, &o->seed))
            return bad_value(name, value, "a whole number from 0 to 2^64 - 1");
        if (name == "--coarse-range" || name == "--coarse-azimuth") {
            long n = 0;
            if (!parse_whole_number(value, &n) || n < INT_MIN || n > INT_MAX)
                return bad_value(name, value, "a whole number");
            (name == "--coarse-range" ? o->initial_range_offset : o->initial_azimuth_offset) =
                static_cast<int>(n);
        }
    }
    if (given.count("--coarse-range") == 0)
        o->initial_range_offset = static_cast<int>(std::lround(o->range_offset_polynomial[0]));
    if (given.count("--coarse-azimuth") == 0)
        o->initial_azimuth_offset = static_cast<int>(std::lround(o->azimuth_offset_polynomial[0]));
    return parse_size(given, &o->width, &o->lines);
}

// Explicit paths win; --out-dir supplies the others.
std::string resolve_paths(const Given& given, SlcsimCommand* command) {
    SlcSimOptions& o = command->simulation;
    const auto out_dir = given.find("--out-dir");
    if (out_dir != given.end()) {
        if (out_dir->second.empty())
            return "option --out-dir needs a non-empty path";
        command->out_dir = out_dir->second;
    }
    std::string dir = command->out_dir;
    if (!dir.empty() && dir.back() != '/')
        dir += '/';
    const struct {
        const char* option;
        const char* file_name;
        std::string* path;
    } outputs[] = {{"--master", "master.slc", &o.master_path},
                   {"--slave", "slave.slc", &o.slave_path},
                   {"--off", "pair.off", &o.offset_par_path},
                   {"--truth", "truth.off", &o.truth_path}};
    std::string missing;
    for (const auto& out : outputs) {
        const auto it = given.find(out.option);
        if (it != given.end() && it->second.empty())
            return std::string("option ") + out.option + " needs a non-empty path";
        if (it != given.end())
            *out.path = it->second;
        else if (!dir.empty())
            *out.path = dir + out.file_name;
        else
            missing += (missing.empty() ? "" : ", ") + std::string(out.option);
    }
    if (!missing.empty())
        return "missing " + missing + " (or give --out-dir)";
    return {};
}

} // namespace

SlcsimCommand parse_slcsim_command(int argc, const char* const* argv) {
    SlcsimCommand command;
    Given given;
    command.error = collect(argc, argv, &given);
    if (!command.error.empty())
        return command;
    if (given.count("--help") != 0) {
        command.mode = SlcsimMode::help;
        return command;
    }
    if (given.count("--version") != 0) {
        command.mode = SlcsimMode::version;
        return command;
    }
    if (given.count("--compare") != 0) {
        command.mode = SlcsimMode::compare;
        command.error = check_scope(given, Scope::compare);
        if (command.error.empty())
            command.error = parse_compare(given, &command.compare);
        return command;
    }
    command.error = check_scope(given, Scope::simulate);
    if (command.error.empty())
        command.error = parse_simulation_numbers(given, &command.simulation);
    if (command.error.empty())
        command.error = resolve_paths(given, &command);
    return command;
}

std::string slcsim_usage() {
    return "Usage: slcsim [options] --out-dir DIR\n"
           "       slcsim [options] --master FILE --slave FILE --off FILE --truth FILE\n"
           "       slcsim --compare --truth FILE --fitted FILE --width N --lines N\n"
           "\n"
           "Simulates an SLC pair with known offsets: band-limited speckle master, slave\n"
           "resampled through the offset polynomials (slave position = master position +\n"
           "offset) and mixed with independent speckle to the coherence. Writes both images\n"
           "with their XML parameter files, the offset parameter file (coarse offsets, zero\n"
           "polynomials) and the truth file (the true polynomials, same layout).\n"
           "\n"
           "Simulation:\n"
           "  --width N              samples per line (default 1024)\n"
           "  --lines N              lines (default 1024)\n"
           "  --format F             FCOMPLEX or SCOMPLEX (default FCOMPLEX)\n"
           "  --range-poly C         range offset c0,c1,c2,c3,c4,c5 of 1, x, y, x*y, x^2, y^2\n"
           "                         (x range sample, y line; missing terms are 0; default 0)\n"
           "  --azimuth-poly C       azimuth offset, the same terms (default 0)\n"
           "  --coherence G          0 < G <= 1 (default 1)\n"
           "  --occupancy F          fraction of the band the spectrum fills, 0 < F <= 1\n"
           "                         (default 0.8)\n"
           "  --doppler F            azimuth spectrum centred on F cycles per line, written to\n"
           "                         the XML files in Hz at a PRF of 1000 Hz (default 0)\n"
           "  --seed N               random seed; the same seed gives the same bytes (default 1)\n"
           "  --coarse-range N       coarse offsets in the offset parameter file (default:\n"
           "  --coarse-azimuth N     the polynomials' c0, rounded)\n"
           "  --out-dir DIR          write DIR/master.slc, slave.slc (+ .xml), pair.off,\n"
           "                         truth.off; DIR is created if needed\n"
           "  --master, --slave, --off, --truth FILE\n"
           "                         explicit output paths (override --out-dir's)\n"
           "\n"
           "Comparison:\n"
           "  --compare              print fitted and true polynomials side by side and their\n"
           "                         largest and RMS difference over the image\n"
           "  --truth FILE           the true offsets (a truth file)\n"
           "  --fitted FILE          the fitted offsets (an offset parameter file)\n"
           "  --width N, --lines N   the image size\n"
           "  --tolerance T          exit 1 if the largest difference exceeds T samples\n"
           "\n"
           "  --help                 this text\n"
           "  --version              the version\n"
           "\n"
           "Options take their value as the next argument or after '='. Exit status: 0 done,\n"
           "1 I/O failure (or --tolerance exceeded), 2 bad usage.\n";
}
