// finecoreg-offsets: the dense offset field of a pair, with a calibrated
// uncertainty per window, as one GeoTIFF.
#include "algorithm/dense_offsets_file.h"
#include "numeric/parallel_loop.h"
#include "params/pending_output.h"
#include "tools/common/command_line.h"
#include "tools/finecoreg/progress_reporter.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <stdexcept>

namespace {

struct OffsetsOptions {
    DenseOffsetsFileRequest request;
    bool quiet = false;
};

bool ends_with_raster_suffix(std::string path) {
    std::transform(path.begin(), path.end(), path.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const std::string suffix : {".tif", ".tiff", ".vrt"})
        if (path.size() > suffix.size() &&
            path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0)
            return true;
    return false;
}

// "R,A" is a constant; a name ending in .tif, .tiff or .vrt a raster; any
// other an offset parameter file.
bool parse_gross(const std::string& text, GrossChoice* g) {
    const std::size_t comma = text.find(',');
    if (comma != std::string::npos && parse_finite_number(text.substr(0, comma), &g->range) &&
        parse_finite_number(text.substr(comma + 1), &g->azimuth)) {
        g->kind = GrossChoice::Kind::constant;
        return true;
    }
    if (text.empty())
        return false;
    g->kind =
        ends_with_raster_suffix(text) ? GrossChoice::Kind::raster : GrossChoice::Kind::offset_file;
    g->path = text;
    return true;
}

bool windows_valid(const TrackerWindows& w) {
    try {
        check_tracker_windows(w);
        return true;
    } catch (const std::invalid_argument&) {
        return false;
    }
}

void add_tracking_options(CLI::App& app, TrackingRequest& t) {
    TrackerWindows& w = t.windows;
    add_checked(app, "--window", "W H", "window width and height (default 64 64)",
                "two powers of two W H from 8 to 4096, W less than 8 H", 2, [&w](auto& v) {
                    return parse_whole_number(v[0], 8, 4096, &w.width) &&
                           parse_whole_number(v[1], 8, 4096, &w.height) && windows_valid(w);
                });
    add_checked(app, "--step", "SR SA", "grid step in range and azimuth (default 16 16)",
                "two whole numbers SR SA of at least 1", 2, [&w](auto& v) {
                    return parse_whole_number(v[0], 1, INT_MAX / 8, &w.stepRange) &&
                           parse_whole_number(v[1], 1, INT_MAX / 8, &w.stepAzimuth);
                });
    add_checked(app, "--margin", "M", "samples and lines kept clear of the edges (default 0)",
                "a whole number of at least 0", [&w](const std::string& v) {
                    return parse_whole_number(v, 0, 1 << 24, &w.margin);
                });
    app.add_flag("--coarse-pass", t.coarsePass,
                 "find the gross offsets by a first pass of larger windows");
    add_checked(app, "--snr-min", "X", "reject windows of lower SNR (default 5)", "a number",
                [&t](const std::string& v) { return parse_finite_number(v, &t.cull.snrMin); });
    add_checked(
        app, "--outlier-radius", "N", "outlier test over the windows within N cells (default 2)",
        "a whole number from 1 to 50",
        [&t](const std::string& v) { return parse_whole_number(v, 1, 50, &t.cull.outlierRadius); });
    add_checked(app, "--outlier-threshold", "T",
                "outlier beyond T times the neighbours' spread (default 4)", "a positive number",
                [&t](const std::string& v) {
                    return parse_finite_number(v, &t.cull.outlierThreshold) &&
                           t.cull.outlierThreshold > 0.0;
                });
    app.add_flag("--fill", t.fill, "fill rejected windows from the good ones (mask 5)");
    add_checked(app, "--threads", "N", "threads measuring the windows (default 1)",
                std::string("a whole number ") + thread_count_range(),
                [&t](auto& v) { return parse_whole_number(v, 1, kMaxThreads, &t.threads); });
}

int parse_options(int argc, char** argv, OffsetsOptions* o) {
    CLI::App app("Measures the slave's offset against the master on a grid of windows (dense\n"
                 "offset tracking) and writes OUT.tif: range and azimuth offsets, their sigmas,\n"
                 "SNR, normalised correlation peak and a mask per window.",
                 "finecoreg-offsets");
    set_up_app(app, "The output is the same for any number of threads. Exit status: 0 done,\n"
                    "1 a failure (one line naming the file), 2 bad usage.");
    DenseOffsetsFileRequest& r = o->request;
    app.add_option("MASTER", r.master, "master SLC image")->required()->type_name("");
    app.add_option("SLAVE", r.slave, "slave SLC image")->required()->type_name("");
    app.add_option("OUT", r.out, "the GeoTIFF to write")->required()->type_name("");
    add_checked(app, "--gross", "R,A|FILE.off|RASTER.tif",
                "gross offset: a constant, an offset parameter\nfile's polynomials or an offset "
                "raster (default 0)",
                "R,A numbers or a file",
                [&r](const std::string& v) { return parse_gross(v, &r.gross); });
    add_tracking_options(app, r.tracking);
    app.add_flag("--quiet", o->quiet, "no progress display");
    return parse_command_line(app, argc, argv);
}

void print_summary(const std::string& out, const DenseOffsets& field) {
    const TrackingSummary s = summarise(field);
    std::printf("offset field:     %s (%d x %d windows)\n", out.c_str(), field.offsets.columns,
                field.offsets.rows);
    std::printf("windows:          %lld good, %lld no data, %lld no peak, %lld low snr, "
                "%lld outlier, %lld filled\n",
                s.windows[0], s.windows[1], s.windows[2], s.windows[3], s.windows[4], s.windows[5]);
    std::printf("median sigma:     %.4f samples, %.4f lines\n", s.medianRangeSigma,
                s.medianAzimuthSigma);
}

} // namespace

int main(int argc, char** argv) {
    OffsetsOptions o;
    if (const int status = parse_options(argc, argv, &o); status >= 0)
        return status;
    remove_pending_outputs_on_signals();
    try {
        ProgressReporter reporter(progress_style(o.quiet), stderr);
        ReporterSink sink(reporter);
        const DenseOffsets field = dense_offsets_file(o.request, &sink);
        reporter.finish(true);
        print_summary(o.request.out, field);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "finecoreg-offsets: %s\n", e.what());
        return 1;
    }
    return 0;
}
