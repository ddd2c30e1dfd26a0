#include "import_options.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

const char* const kImportUsage =
    "Usage: finecoreg-import image IN OUT.slc [--band N] [--window X Y W H]\n"
    "       finecoreg-import pair MASTER_IN SLAVE_IN OUTDIR [--band N] [--window X Y W H]\n"
    "                             [--offset RANGE AZIMUTH]\n"
    "\n"
    "Imports complex rasters that GDAL reads (CInt16 as SCOMPLEX, CFloat32 as FCOMPLEX,\n"
    "CInt32 and CFloat64 converted to FCOMPLEX) as raw SLC files with their XML\n"
    "parameter files.\n"
    "  image  writes OUT.slc and its XML file (OUT up to its last '.', then .xml).\n"
    "  pair   writes OUTDIR/master.slc, OUTDIR/slave.slc, their XML files and the\n"
    "         offset parameter file OUTDIR/pair.off holding the coarse offset\n"
    "         (slave position = master position + offset): the one given, or one\n"
    "         estimated in whole samples and lines from the amplitudes.\n"
    "Options:\n"
    "  --band N                band to import, from 1 (default 1)\n"
    "  --window X Y W H        import only W samples x H lines from sample X, line Y\n"
    "  --offset RANGE AZIMUTH  coarse offset in samples and lines (pair only)\n"
    "  -h, --help              show this help\n"
    "Exit status: 0 done, 1 the import failed, 2 bad usage.\n";

namespace {

int whole_number(const std::string& option, const std::string& text, long low) {
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || value < low || value > INT_MAX)
        throw UsageError("option " + option + ": '" + text + "' is not a whole number" +
                         (low >= 0 ? " >= " + std::to_string(low) : std::string()));
    return static_cast<int>(value);
}

// The n values following option at args[i], parsed with lower bounds lows.
std::vector<int> values(const std::vector<std::string>& args, std::size_t& i,
                        const std::vector<long>& lows) {
    const std::string option = args[i];
    if (i + lows.size() >= args.size())
        throw UsageError("option " + option + " needs " + std::to_string(lows.size()) +
                         (lows.size() == 1 ? " value" : " values"));
    std::vector<int> out;
    for (long low : lows)
        out.push_back(whole_number(option, args[++i], low));
    return out;
}

} // namespace

ImportOptions parse_import_options(const std::vector<std::string>& args) {
    ImportOptions options;
    for (const std::string& a : args)
        if (a == "--help" || a == "-h")
            return options;
    if (args.empty())
        throw UsageError("missing mode: image or pair (see --help)");
    if (args[0] != "image" && args[0] != "pair")
        throw UsageError("unknown mode '" + args[0] + "': image or pair (see --help)");
    options.mode = args[0] == "image" ? ImportOptions::Mode::image : ImportOptions::Mode::pair;
    for (std::size_t i = 1; i < args.size(); i++) {
        if (args[i] == "--band") {
            options.band = values(args, i, {1})[0];
        } else if (args[i] == "--window") {
            const std::vector<int> v = values(args, i, {0, 0, 1, 1});
            options.window = ingest::Window{v[0], v[1], v[2], v[3]};
        } else if (args[i] == "--offset" && options.mode == ImportOptions::Mode::pair) {
            const std::vector<int> v = values(args, i, {INT_MIN + 1L, INT_MIN + 1L});
            options.offset = ingest::IntegerOffset{v[0], v[1]};
        } else if (args[i].size() > 1 && args[i][0] == '-') {
            throw UsageError("unknown option " + args[i] + " for " + args[0]);
        } else {
            options.paths.push_back(args[i]);
        }
    }
    const std::size_t wanted = options.mode == ImportOptions::Mode::image ? 2 : 3;
    if (options.paths.size() != wanted)
        throw UsageError(args[0] + " needs " +
                         (wanted == 2 ? "IN and OUT" : "MASTER_IN, SLAVE_IN and OUTDIR") +
                         " (see --help)");
    return options;
}
