#include "resample_options.h"

#include "numeric/parallel_loop.h"
#include "tools/common/command_line.h"

#include <vector>

namespace {

bool parse_looks(const std::string& text, int* value) {
    long n = 0;
    if (!parse_whole_number(text, &n) || n < 1 || n > 100000)
        return false;
    *value = static_cast<int>(n);
    return true;
}

} // namespace

std::string parse_resample_options(int argc, const char* const* argv, ResampleOptions* o) {
    std::vector<std::string> positional;
    for (int i = 1; i < argc; i++) {
        const std::string arg = argv[i];
        const auto value = [&](int k) -> const char* {
            return i + k < argc ? argv[i + k] : nullptr;
        };
        if (arg == "--help") {
            o->help = true;
        } else if (arg == "--quiet") {
            o->quiet = true;
        } else if (arg == "--geotiff") {
            o->geotiff = true;
        } else if (arg == "--looks") {
            if (!value(1) || !value(2) || !parse_looks(value(1), &o->looks_az) ||
                !parse_looks(value(2), &o->looks_rg))
                return "option --looks needs two whole numbers AZ RG of at least 1";
            i += 2;
        } else if (arg == "--threads") {
            long n = 0;
            if (!value(1) || !parse_whole_number(value(1), &n) || thread_count_problem(n))
                return std::string("option --threads needs a whole number ") + thread_count_range();
            o->request.threads = static_cast<int>(n);
            i++;
        } else if (arg == "--interferogram") {
            if (!value(1))
                return "option --interferogram needs a directory";
            o->interferogram_dir = argv[++i];
        } else if (arg == "--doppler") {
            if (!value(1))
                return "option --doppler needs auto, off or a number of cycles per line";
            const std::string v = argv[++i];
            DopplerChoice& d = o->request.doppler;
            if (v == "auto")
                d.mode = DopplerChoice::Mode::automatic;
            else if (v == "off")
                d.mode = DopplerChoice::Mode::off;
            else if (parse_finite_number(v, &d.value) && d.value > -0.5 && d.value < 0.5)
                d.mode = DopplerChoice::Mode::given;
            else
                return "option --doppler needs auto, off or a number in (-0.5, 0.5), not '" + v +
                       "'";
        } else if (arg.compare(0, 2, "--") == 0) {
            return "unknown option '" + arg + "'";
        } else {
            positional.push_back(arg);
        }
    }
    if (o->help)
        return "";
    if (positional.size() != 4)
        return "expected MASTER SLAVE FITTED_OFF OUT_SLC, got " +
               std::to_string(positional.size()) + " paths";
    if (o->geotiff && o->interferogram_dir.empty())
        return "--geotiff needs --interferogram DIR";
    o->request.master = positional[0];
    o->request.slave = positional[1];
    o->request.fitted_off = positional[2];
    o->request.out_slc = positional[3];
    return "";
}

const char* resample_usage() {
    return "usage: finecoreg-resample MASTER SLAVE FITTED_OFF OUT_SLC [--looks AZ RG]\n"
           "                          [--interferogram DIR] [--geotiff]\n"
           "                          [--doppler auto|off|VALUE] [--threads N] [--quiet]\n"
           "Resamples the slave SLC onto the master's grid through the fitted offset\n"
           "polynomials (OUT_SLC, its XML and OUT_SLC.mask), and with --interferogram forms\n"
           "the interferogram and coherence in DIR (--looks, default 5 5; --geotiff for\n"
           "GeoTIFF). --doppler: the slave's Doppler centroid in cycles per line, 'auto'\n"
           "(the XML's, else estimated from the data; the default) or 'off'. --threads:\n"
           "threads resampling the lines (default 1); the output is the same for any number.\n";
}
