// finecoreg-resample: the slave on the master's grid, and the coherence that
// shows whether the co-registration worked.
#include "ingest/geotiff_raster_writer.h"
#include "params/pending_output.h"
#include "resample_options.h"
#include "resampling/image_pair_inputs.h"
#include "resampling/interferogram_file.h"
#include "resampling/resample_file.h"
#include "tools/finecoreg/progress_reporter.h"

#include <cstdio>
#include <unistd.h>

namespace {

// The library's progress on the terminal's bar (or a line per ten percent).
class ReporterSink : public Progress {
public:
    explicit ReporterSink(ProgressReporter& reporter) : reporter_(reporter) {}
    void progress(double percent) override { reporter_.update(percent); }

private:
    ProgressReporter& reporter_;
};

ProgressReporter::Style progress_style(bool quiet) {
    if (quiet)
        return ProgressReporter::Style::None;
    return ::isatty(STDERR_FILENO) ? ProgressReporter::Style::Bar : ProgressReporter::Style::Lines;
}

void print_resampled(const ResampleFileResult& r) {
    std::printf("resampled slave:  %s (%d x %d %s; XML %s, mask %s)\n", r.output.c_str(), r.samples,
                r.lines, r.format.c_str(), r.xml.c_str(), r.mask.c_str());
    std::printf("doppler centroid: %.6f cycles/line (%s)\n", r.doppler_centroid,
                r.doppler_source.c_str());
    std::printf("masked samples:   %lld\n", static_cast<long long>(r.masked));
    if (r.format == "SCOMPLEX")
        std::printf("saturated parts:  %lld\n", static_cast<long long>(r.saturated));
}

void print_interferogram(const InterferogramFileResult& r) {
    std::printf("interferogram:    %s (%d x %d, looks %d x %d)\n", r.interferogram.c_str(),
                r.samples, r.lines, r.looks_az, r.looks_rg);
    std::printf("coherence:        %s\n", r.coherence.c_str());
    std::printf("mean coherence: %.4f\n", r.mean_coherence);
    std::printf("median coherence: %.4f\n", r.median_coherence);
}

} // namespace

int main(int argc, char** argv) {
    ResampleOptions o;
    const std::string error = parse_resample_options(argc, argv, &o);
    if (!error.empty()) {
        std::fprintf(stderr, "finecoreg-resample: %s\n%s", error.c_str(), resample_usage());
        return 2;
    }
    if (o.help) {
        std::fputs(resample_usage(), stdout);
        return 0;
    }
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
