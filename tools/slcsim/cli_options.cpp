#include "cli_options.h"

#include "command_line.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <vector>
#include <regex>

namespace {

// Largest constant offset accepted: keeps the rounded coarse offset an int
// and the simulated field within memory long before that.
constexpr double kMaxConstantOffset = 1.0e6;

bool parse_seed(const std::string& text, std::uint64_t* value) {
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0])))
        return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long n = std::strtoull(text.c_str(), &end, 10);
    *value = n;
    return errno == 0 && *end == '\0';
}

// One to max_count comma-separated finite numbers.
bool parse_numbers(const std::string& text, std::size_t max_count, std::vector<double>* values) {
    values->clear();
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        double value = 0.0;
        if (values->size() == max_count ||
            !parse_finite_number(text.substr(start, comma - start), &value))
            return false;
        values->push_back(value);
        if (comma == std::string::npos)
            return true;
        start = comma + 1;
    }
}

// One to six comma-separated coefficients c0, c1, ...; the rest are zero.
bool parse_polynomial(const std::string& text, double coefficients[6]) {
    std::vector<double> parsed;
    if (!parse_numbers(text, 6, &parsed) || std::fabs(parsed[0]) > kMaxConstantOffset)
        return false;
    parsed.resize(6, 0.0);
    std::copy(parsed.begin(), parsed.end(), coefficients);
    return true;
}

// A,W[,X0,Y0]: amplitude, positive width and optionally the centre.
bool parse_bump(const std::string& text, BumpOptions* bump) {
    std::vector<double> parsed;
    if (!parse_numbers(text, 4, &parsed) || parsed.size() == 1 || parsed.size() == 3 ||
        std::fabs(parsed[0]) > kMaxConstantOffset || !(parsed[1] > 0.0))
        return false;
    *bump = {parsed[0], parsed[1], NAN, NAN};
    if (parsed.size() == 4) {
        bump->x0 = parsed[2];
        bump->y0 = parsed[3];
    }
    return true;
}

// F0,F1: the Doppler centroid at the first and the last line.
bool parse_doppler_pair(const std::string& text, SlcSimOptions* o) {
    std::vector<double> parsed;
    if (!parse_numbers(text, 2, &parsed) || parsed.size() != 2)
        return false;
    for (double f : parsed)
        if (!(f > -0.5 && f < 0.5))
            return false;
    o->doppler = parsed[0];
    o->doppler_at_last_line = parsed[1];
    return true;
}

bool parse_format(std::string text, SampleFormat* format) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    *format = text == "SCOMPLEX" ? SampleFormat::scomplex : SampleFormat::fcomplex;
    return text == "FCOMPLEX" || text == "SCOMPLEX";
}

// A number in the interval, open at low and open or closed at high.
// An ISO 8601 date, optionally with a time of day (seconds, fractions and a
// zone optional), as SAR products state acquisition starts.
bool parse_start_time(const std::string& text, std::string* start) {
    static const std::regex iso(
        R"(\d{4}-\d{2}-\d{2}([T ]\d{2}:\d{2}(:\d{2}(\.\d+)?)?(Z|[+-]\d{2}:\d{2})?)?)");
    if (!std::regex_match(text, iso))
        return false;
    *start = text;
    return true;
}

auto number_in(double* target, double low, double high, bool closed_high) {
    return [=](const std::string& text) {
        return parse_finite_number(text, target) && *target > low &&
               (*target < high || (closed_high && *target == high));
    };
}

// A number no larger in size than the largest constant offset.
auto offset_size(double* target) {
    return [=](const std::string& text) {
        return parse_finite_number(text, target) && std::fabs(*target) <= kMaxConstantOffset;
    };
}

} // namespace

int parse_slcsim_command(int argc, const char* const* argv, SlcsimCommand* command) {
    CLI::App app("Simulates an SLC pair with known offsets: band-limited speckle master, slave\n"
                 "resampled through the offset polynomials (slave position = master position +\n"
                 "offset) and mixed with independent speckle to the coherence. Writes both images\n"
                 "with their XML parameter files, the offset parameter file (coarse offsets, zero\n"
                 "polynomials) and the truth file (the true polynomials, same layout). Forms:\n"
                 "  slcsim [options] --out-dir DIR\n"
                 "  slcsim [options] --master FILE --slave FILE --off FILE --truth FILE\n"
                 "  slcsim --compare --truth FILE --fitted FILE --width N --lines N",
                 "slcsim");
    set_up_app(app, "Exit status: 0 done, 1 I/O failure (or --tolerance exceeded), 2 bad usage.");
    SlcSimOptions& o = command->simulation;
    CompareRequest& c = command->compare;
    const std::string whole = "a whole number", positive = "a positive whole number";
    CLI::Option* sizes[] = {
        add_checked(app, "--width", "N", "samples per line (default 1024)", positive,
                    [&](auto& v) { return parse_whole_number(v, 1, INT_MAX, &o.width); }),
        add_checked(app, "--lines", "N", "lines (default 1024)", positive,
                    [&](auto& v) { return parse_whole_number(v, 1, INT_MAX, &o.lines); })};
    std::string paths[4]; // master, slave, off, truth
    CLI::Option* truth = add_path(app, "--truth", &paths[3], "the truth file to write or compare");
    const std::string polynomial = "a list of one to six numbers c0,c1,...,c5";
    const char* const coarse_help = "coarse offset in the offset parameter file\n(default: the "
                                    "polynomial's c0, rounded)";
    CLI::Option* coarse[2];
    CLI::Option* doppler[2];
    const std::string bump = "A,W or A,W,X0,Y0 with W > 0";
    const std::string size = "a number of size up to 10^6";
    CLI::Option* simulation_only[] = {
        add_checked(app, "--format", "F", "FCOMPLEX or SCOMPLEX (default FCOMPLEX)",
                    "FCOMPLEX or SCOMPLEX", [&](auto& v) { return parse_format(v, &o.format); }),
        add_checked(app, "--range-poly", "C",
                    "range offset c0,c1,c2,c3,c4,c5 of 1, x, y, x*y,\n"
                    "x^2, y^2 (x range sample, y line; missing\nterms are 0; default 0)",
                    polynomial,
                    [&](auto& v) { return parse_polynomial(v, o.range_offset_polynomial); }),
        add_checked(app, "--azimuth-poly", "C", "azimuth offset, the same terms (default 0)",
                    polynomial,
                    [&](auto& v) { return parse_polynomial(v, o.azimuth_offset_polynomial); }),
        add_checked(app, "--coherence", "G", "0 < G <= 1 (default 1)", "a number in (0, 1]",
                    number_in(&o.coherence, 0.0, 1.0, true)),
        add_checked(app, "--occupancy", "F",
                    "fraction of the band the spectrum fills,\n"
                    "0 < F <= 1 (default 0.8)",
                    "a number in (0, 1]", number_in(&o.occupancy, 0.0, 1.0, true)),
        doppler[0] =
            add_checked(app, "--doppler", "F",
                        "azimuth spectrum centred on F cycles per line,\n"
                        "written to the XML files in Hz at a PRF of\n1000 Hz (default 0)",
                        "a number in (-0.5, 0.5)", number_in(&o.doppler, -0.5, 0.5, false)),
        doppler[1] = add_checked(app, "--doppler-azimuth", "F0,F1",
                                 "centroid changing linearly from F0 cycles per\n"
                                 "line at the first line to F1 at the last (the\n"
                                 "phase its integral); the XML files state the mean",
                                 "two numbers in (-0.5, 0.5)",
                                 [&](auto& v) { return parse_doppler_pair(v, &o); }),
        add_path(app, "--offset-raster", &o.fields.raster_path,
                 "offsets added to the polynomials at every master\n"
                 "sample: an offset raster file of width x lines"),
        add_checked(app, "--range-bump", "A,W[,X0,Y0]",
                    "Gaussian bump of A samples in range, standard\n"
                    "deviation W samples, centred on sample X0 of\n"
                    "line Y0 (default the image's centre)",
                    bump, [&](auto& v) { return parse_bump(v, &o.fields.range_bump); }),
        add_checked(app, "--azimuth-bump", "A,W[,X0,Y0]", "the same, of A lines in azimuth", bump,
                    [&](auto& v) { return parse_bump(v, &o.fields.azimuth_bump); }),
        add_checked(app, "--range-step", "D",
                    "step of D samples across the diagonal from the\n"
                    "first sample of the first line to the last of the\n"
                    "last: D on the later lines' side, 0 on the other,\n"
                    "smoothed over a sample",
                    size, offset_size(&o.fields.range_step)),
        add_checked(app, "--azimuth-step", "D", "the same, of D lines in azimuth", size,
                    offset_size(&o.fields.azimuth_step)),
        add_checked(app, "--flow", "M",
                    "vortex turning range into azimuth, reaching M\n"
                    "samples at a quarter of the smaller side from\n"
                    "the image's centre and fading beyond",
                    size, offset_size(&o.fields.flow)),
        add_path(app, "--truth-field", &o.truth_field_path,
                 "also write the total true offsets at every master\n"
                 "sample, an offset raster file"),
        add_checked(app, "--master-start", "TIME",
                    "acquisition start the master's XML states\n"
                    "(rawDataStartTime, ISO 8601: 2021-03-25T05:43:21Z)",
                    "an ISO 8601 date and time",
                    [&](auto& v) { return parse_start_time(v, &o.master_start); }),
        add_checked(app, "--slave-start", "TIME", "the same for the slave",
                    "an ISO 8601 date and time",
                    [&](auto& v) { return parse_start_time(v, &o.slave_start); }),
        add_checked(app, "--seed", "N",
                    "random seed; the same seed gives the same bytes\n"
                    "(default 1)",
                    "a whole number from 0 to 2^64 - 1",
                    [&](auto& v) { return parse_seed(v, &o.seed); }),
        coarse[0] = add_checked(app, "--coarse-range", "N", coarse_help, whole,
                                [&](auto& v) {
                                    return parse_whole_number(v, INT_MIN, INT_MAX,
                                                              &o.initial_range_offset);
                                }),
        coarse[1] = add_checked(app, "--coarse-azimuth", "N", coarse_help, whole,
                                [&](auto& v) {
                                    return parse_whole_number(v, INT_MIN, INT_MAX,
                                                              &o.initial_azimuth_offset);
                                }),
        add_path(app, "--out-dir", &command->out_dir,
                 "write DIR/master.slc, slave.slc (+ .xml),\n"
                 "pair.off, truth.off; DIR is created if needed"),
        add_path(app, "--master", &paths[0], "explicit output paths (override --out-dir's)"),
        add_path(app, "--slave", &paths[1], "the same"),
        add_path(app, "--off", &paths[2], "the same")};
    CLI::Option* compare =
        app.add_flag("--compare", "print fitted and true polynomials side by "
                                  "side and\ntheir largest and RMS difference over the image");
    CLI::Option* compare_only[] = {
        add_path(app, "--fitted", &c.fitted_path, "the fitted offsets (an offset parameter file)"),
        add_checked(app, "--tolerance", "T", "exit 1 if the largest difference exceeds T samples",
                    "a positive number", number_in(&c.tolerance, 0.0, HUGE_VAL, false))};
    app.callback([&] {
        const bool comparing = compare->count() != 0;
        for (CLI::Option* option : simulation_only)
            if (comparing && option->count() != 0)
                throw CLI::ValidationError("option " + option->get_name() +
                                           " does not apply to --compare");
        for (CLI::Option* option : compare_only)
            if (!comparing && option->count() != 0)
                throw CLI::ValidationError("option " + option->get_name() + " needs --compare");
        if (comparing) {
            command->mode = SlcsimMode::compare;
            for (CLI::Option* needed : {truth, compare_only[0], sizes[0], sizes[1]})
                if (needed->count() == 0)
                    throw CLI::ValidationError("--compare needs option " + needed->get_name());
            c = {paths[3], c.fitted_path, o.width, o.lines, c.tolerance};
            return;
        }
        if (doppler[0]->count() != 0 && doppler[1]->count() != 0)
            throw CLI::ValidationError("--doppler and --doppler-azimuth exclude each other");
        if (coarse[0]->count() == 0)
            o.initial_range_offset = static_cast<int>(std::lround(o.range_offset_polynomial[0]));
        if (coarse[1]->count() == 0)
            o.initial_azimuth_offset =
                static_cast<int>(std::lround(o.azimuth_offset_polynomial[0]));
        std::string dir = command->out_dir, missing;
        if (!dir.empty() && dir.back() != '/')
            dir += '/';
        const char* const names[] = {"--master", "--slave", "--off", "--truth"};
        const char* const files[] = {"master.slc", "slave.slc", "pair.off", "truth.off"};
        std::string* targets[] = {&o.master_path, &o.slave_path, &o.offset_par_path, &o.truth_path};
        for (int i = 0; i < 4; i++) {
            *targets[i] = !paths[i].empty() ? paths[i] : dir.empty() ? "" : dir + files[i];
            if (targets[i]->empty())
                missing += (missing.empty() ? "" : ", ") + std::string(names[i]);
        }
        if (!missing.empty())
            throw CLI::ValidationError("missing " + missing + " (or give --out-dir)");
    });
    return parse_command_line(app, argc, argv);
}
