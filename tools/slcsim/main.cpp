// slcsim: simulated SLC pairs with known offsets, and the comparison of a
// fitted offset model with the truth.
#include "cli_options.h"
#include "offset_compare.h"
#include "params/file_error.h"
#include "params/pending_output.h"
#include "slcsim.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

namespace {

enum ExitStatus { kSuccess = 0, kFailure = 1 };

int fail(int status, const std::string& message) {
    std::fflush(stdout);
    std::fprintf(stderr, "slcsim: %s\n", message.c_str());
    return status;
}

int simulate(const SlcsimCommand& command) {
    const SlcSimOptions& o = command.simulation;
    if (!command.out_dir.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(command.out_dir, ec);
        if (ec)
            return fail(kFailure,
                        "cannot create directory " + command.out_dir + ": " + ec.message());
    }
    std::string error;
    if (!simulate_slc_pair(o, &error))
        return fail(kFailure, error);
    std::printf("slcsim: %d x %d %s pair, coherence %g, seed %llu\n"
                "  master  %s  %s\n"
                "  slave   %s  %s\n"
                "  offsets %s (coarse %d, %d)\n"
                "  truth   %s\n",
                o.width, o.lines, sample_format_name(o.format), o.coherence,
                static_cast<unsigned long long>(o.seed), o.master_path.c_str(),
                image_xml_path(o.master_path).c_str(), o.slave_path.c_str(),
                image_xml_path(o.slave_path).c_str(), o.offset_par_path.c_str(),
                o.initial_range_offset, o.initial_azimuth_offset, o.truth_path.c_str());
    if (!o.truth_field_path.empty())
        std::printf("  truth field %s\n", o.truth_field_path.c_str());
    return kSuccess;
}

int compare(const CompareRequest& request) {
    OffsetPolynomials fitted, truth;
    try {
        truth = read_offset_file(request.truth_path).polynomials;
        fitted = read_offset_file(request.fitted_path).polynomials;
    } catch (const FileError& e) {
        return fail(kFailure, e.what());
    }
    const OffsetDifference d = compare_offsets(fitted, truth, request.width, request.lines);
    std::fputs(format_comparison(fitted, truth, d, request.width, request.lines).c_str(), stdout);
    const double largest = std::max(d.range_max, d.azimuth_max);
    if (request.tolerance > 0.0 && largest > request.tolerance) {
        char message[120];
        std::snprintf(message, sizeof message,
                      "largest difference %.4f exceeds the tolerance of %g samples", largest,
                      request.tolerance);
        return fail(kFailure, message);
    }
    return kSuccess;
}

} // namespace

int main(int argc, char** argv) {
    remove_pending_outputs_on_signals();
    SlcsimCommand command;
    if (const int status = parse_slcsim_command(argc, argv, &command); status >= 0)
        return status;
    if (command.mode == SlcsimMode::compare)
        return compare(command.compare);
    return simulate(command);
}
