// finecoreg-resample: the slave on the master's grid, and the coherence that
// shows whether the co-registration worked.
#include "ingest/geotiff_raster_writer.h"
#include "ingest/offset_field_geotiff.h"
#include "numeric/parallel_loop.h"
#include "params/image_info.h"
#include "params/pending_output.h"
#include "resampling/interferogram_file.h"
#include "resampling/resample_file.h"
#include "tools/common/command_line.h"
#include "tools/finecoreg/progress_reporter.h"

#include <climits>
#include <cstdio>
#include <utility>

namespace {

struct ResampleOptions {
    ResampleFileRequest request;
    int looks_az = 5, looks_rg = 5;
    std::string interferogram_dir; // empty: no interferogram
    bool geotiff = false;
    bool quiet = false;
};

int parse_options(int argc, char** argv, ResampleOptions* o) {
    CLI::App app("Resamples the slave SLC onto the master's grid through the fitted offset\n"
                 "polynomials, an offset field (--field) or both added (OUT_SLC, its XML and\n"
                 "OUT_SLC.mask), and with --interferogram forms the interferogram and coherence\n"
                 "in DIR.",
                 "finecoreg-resample");
    set_up_app(app, "The output is the same for any number of threads. Exit status: 0 done,\n"
                    "1 a failure (one line naming the file), 2 bad usage.");
    ResampleFileRequest& r = o->request;
    const struct {
        const char* name;
        std::string* path;
        const char* help;
        bool required;
    } paths[] = {{"MASTER", &r.master, "master SLC image", true},
                 {"SLAVE", &r.slave, "slave SLC image", true},
                 {"FITTED_OFF", &r.fitted_off,
                  "offset parameter file with the fitted polynomials\n(optional with --field)",
                  false},
                 {"OUT_SLC", &r.out_slc, "the resampled slave to write (required)", false}};
    // CLI11 fills positionals in order: three paths land in MASTER, SLAVE
    // and FITTED_OFF, the last of which is then OUT_SLC.
    for (const auto& p : paths)
        app.add_option(p.name, *p.path, p.help)->required(p.required)->type_name("");
    add_path(app, "--field", &r.field_path,
             "offset field GeoTIFF (range_offset and azimuth_offset bands on a\ngrid of master "
             "positions), added to the polynomials");
    app.final_callback([&r] {
        if (r.out_slc.empty() && !r.fitted_off.empty() && !r.field_path.empty())
            std::swap(r.out_slc, r.fitted_off);
        if (r.out_slc.empty())
            throw CLI::ValidationError(
                r.fitted_off.empty() ? "OUT_SLC is required"
                                     : "FITTED_OFF is needed unless --field gives the offsets");
        if (!r.field_path.empty())
            r.read_field = [path = r.field_path] {
                return ingest::read_offset_field_geotiff(path);
            };
    });
    add_checked(app, "--looks", "AZ RG", "looks in azimuth and range (default 5 5)",
                "two whole numbers AZ RG of at least 1", 2, [o](auto& v) {
                    return parse_whole_number(v[0], 1, 100000, &o->looks_az) &&
                           parse_whole_number(v[1], 1, 100000, &o->looks_rg);
                });
    CLI::Option* ifg = app.add_option("--interferogram", o->interferogram_dir,
                                      "form the interferogram and coherence in DIR")
                           ->type_name("DIR");
    app.add_flag("--geotiff", o->geotiff, "write them as GeoTIFF")->needs(ifg);
    add_checked(app, "--doppler", "auto|off|VALUE",
                "the slave's Doppler centroid in cycles per line,\n'auto' (the XML's, else "
                "estimated from the data;\nthe default) or 'off'",
                "auto, off or a number in (-0.5, 0.5)", [&d = r.doppler](const std::string& v) {
                    d.mode = v == "auto"  ? DopplerChoice::Mode::automatic
                             : v == "off" ? DopplerChoice::Mode::off
                                          : DopplerChoice::Mode::given;
                    return d.mode != DopplerChoice::Mode::given ||
                           (parse_finite_number(v, &d.value) && d.value > -0.5 && d.value < 0.5);
                });
    add_checked(app, "--threads", "N", "threads resampling the lines (default 1)",
                std::string("a whole number ") + thread_count_range(), [&r](auto& v) {
                    return parse_whole_number(v, INT_MIN, INT_MAX, &r.threads) &&
                           !thread_count_problem(r.threads);
                });
    app.add_flag("--quiet", o->quiet, "no progress display");
    return parse_command_line(app, argc, argv);
}

void print_resampled(const ResampleFileResult& r) {
    std::printf("resampled slave:  %s (%d x %d %s; XML %s, mask %s)\n", r.output.c_str(), r.samples,
                r.lines, r.format.c_str(), r.xml.c_str(), r.mask.c_str());
    std::printf("doppler centroid: %s\n", r.doppler_description.c_str());
    std::printf("masked samples:   %lld\n", static_cast<long long>(r.masked));
    if (r.no_data > 0)
        std::printf("no-data samples:  %lld in the slave (not finite)\n",
                    static_cast<long long>(r.no_data));
    if (r.format == "SCOMPLEX")
        std::printf("saturated parts:  %lld\n", static_cast<long long>(r.saturated));
}

void print_interferogram(const InterferogramFileResult& r) {
    std::printf("interferogram:    %s (%d x %d, looks %d x %d)\n", r.interferogram.c_str(),
                r.samples, r.lines, r.looks_az, r.looks_rg);
    std::printf("coherence:        %s\n", r.coherence.c_str());
    std::printf("mean coherence: %.4f\n", r.mean_coherence);
    std::printf("median coherence: %.4f\n", r.median_coherence);
    if (r.no_data > 0)
        std::printf("no-data samples:  %lld left out of the coherence (not finite)\n",
                    static_cast<long long>(r.no_data));
}

} // namespace

int main(int argc, char** argv) {
    ResampleOptions o;
    if (const int status = parse_options(argc, argv, &o); status >= 0)
        return status;
    remove_pending_outputs_on_signals();
    try {
        if (!o.interferogram_dir.empty()) {
            // The whole chain is checked before the resampling starts.
            o.request.also_written = interferogram_outputs(o.interferogram_dir);
            const auto master = read_image_info(o.request.master);
            o.request.also_written_bytes =
                interferogram_bytes(o.request.master, master->numberOfColumns, master->numberOfRows,
                                    o.looks_az, o.looks_rg);
        }
        ProgressReporter reporter(progress_style(o.quiet), stderr);
        ReporterSink sink(reporter);
        const ResampleFileResult resampled = resample_file(o.request, &sink);
        reporter.finish(true);
        print_resampled(resampled);
        for (const std::string& warning : resampled.warnings)
            std::fprintf(stderr, "finecoreg-resample: warning: %s\n", warning.c_str());
        if (!o.interferogram_dir.empty()) {
            ProgressReporter ifg_reporter(progress_style(o.quiet), stderr);
            ReporterSink ifg_sink(ifg_reporter);
            const InterferogramFileRequest request{o.request.master, o.request.out_slc, o.looks_az,
                                                   o.looks_rg, o.interferogram_dir};
            const InterferogramFileResult ifg =
                interferogram_file(request,
                                   o.geotiff ? RasterWriterFactory(ingest::geotiff_raster_writer)
                                             : RasterWriterFactory(raw_raster_writer),
                                   &ifg_sink);
            ifg_reporter.finish(true);
            print_interferogram(ifg);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "finecoreg-resample: %s\n", e.what());
        return 1;
    }
    return 0;
}
