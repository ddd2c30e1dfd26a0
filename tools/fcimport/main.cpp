// finecoreg-import: complex rasters that GDAL reads into the module's input
// files. Exit status 0 done, 1 the import failed, 2 bad usage.
#include "import_options.h"
#include "params/pending_output.h"

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

namespace {

void print_notes(const std::string& prefix, const std::vector<std::string>& notes) {
    for (const std::string& note : notes)
        std::printf("%snote: %s\n", prefix.c_str(), note.c_str());
}

void print_image(const ingest::ImageImportResult& r) {
    std::printf("wrote %s (%s, %d samples x %d lines) and %s\n", r.image_path.c_str(),
                r.sample_format.c_str(), r.columns, r.rows, r.xml_path.c_str());
}

void run(const ImportOptions& options) {
    const auto source = [&](const std::string& path) {
        return ingest::RasterSource{path, options.band, options.window};
    };
    if (options.mode == ImportOptions::Mode::image) {
        const ingest::ImageImportResult r =
            ingest::import_image(source(options.paths[0]), options.paths[1]);
        print_notes("", r.notes);
        print_image(r);
        return;
    }
    const ingest::PairImportResult r = ingest::import_pair(
        {source(options.paths[0]), source(options.paths[1]), options.paths[2], options.offset});
    print_notes("master: ", r.master.notes);
    print_notes("slave: ", r.slave.notes);
    std::printf("coarse offset: range %d samples, azimuth %d lines", r.offset.range,
                r.offset.azimuth);
    if (r.estimate)
        std::printf(" (estimated: %d x %d looks, amplitude correlation %.3f; peak %.3f, next "
                    "peak %.3f)\n",
                    r.estimate->range_looks, r.estimate->azimuth_looks, r.estimate->correlation,
                    r.estimate->peak, r.estimate->next_peak);
    else
        std::printf(" (given)\n");
    print_image(r.master);
    print_image(r.slave);
    std::printf("wrote %s\n", r.offset_par_path.c_str());
}

} // namespace

int main(int argc, char** argv) {
    ImportOptions options;
    try {
        options = parse_import_options(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const UsageError& e) {
        std::fprintf(stderr, "finecoreg-import: %s\n", e.what());
        return 2;
    }
    if (options.mode == ImportOptions::Mode::help) {
        std::fputs(kImportUsage, stdout);
        return 0;
    }
    remove_pending_outputs_on_signals(); // no *.tmp.<pid> left by Ctrl-C or kill
    try {
        run(options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "finecoreg-import: %s\n", e.what());
        return 1;
    }
    return 0;
}
