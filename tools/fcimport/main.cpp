// finecoreg-import: complex rasters that GDAL reads into the module's input
// files. Exit status 0 done, 1 the import failed, 2 bad usage.
#include "ingest/ingest.h"
#include "params/pending_output.h"
#include "tools/common/command_line.h"

#include <climits>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <vector>

namespace {

struct ImportOptions {
    bool pair = false;
    std::string paths[3]; // IN OUT for image; MASTER SLAVE OUTDIR for pair
    int band = 1;
    std::optional<ingest::Window> window;
    std::optional<ingest::IntegerOffset> offset; // pair only
};

int parse_options(int argc, char** argv, ImportOptions* o) {
    CLI::App app(
        "Imports complex rasters that GDAL reads (CInt16 as SCOMPLEX, CFloat32 as FCOMPLEX,\n"
        "CInt32 and CFloat64 converted to FCOMPLEX) as raw SLC files with their XML\n"
        "parameter files.",
        "finecoreg-import");
    set_up_app(app, "Exit status: 0 done, 1 the import failed, 2 bad usage.");
    app.require_subcommand(1);
    CLI::App* image = app.add_subcommand(
        "image", "writes OUT.slc and its XML file (OUT up to its last '.', then .xml)");
    CLI::App* pair = app.add_subcommand(
        "pair", "writes OUTDIR/master.slc, OUTDIR/slave.slc, their XML files and the offset\n"
                "parameter file OUTDIR/pair.off holding the coarse offset (slave position =\n"
                "master position + offset): the one given, or one estimated in whole samples\n"
                "and lines from the amplitudes");
    image->add_option("IN", o->paths[0], "the raster")->required()->type_name("");
    image->add_option("OUT.slc", o->paths[1], "the SLC file to write")->required()->type_name("");
    const char* const pair_paths[][2] = {{"MASTER_IN", "the master raster"},
                                         {"SLAVE_IN", "the slave raster"},
                                         {"OUTDIR", "the directory to write to"}};
    for (int i = 0; i < 3; i++)
        pair->add_option(pair_paths[i][0], o->paths[i], pair_paths[i][1])
            ->required()
            ->type_name("");
    for (CLI::App* mode : {image, pair}) {
        add_checked(*mode, "--band", "N", "band to import, from 1 (default 1)",
                    "a whole number >= 1",
                    [o](auto& v) { return parse_whole_number(v, 1, INT_MAX, &o->band); });
        add_checked(*mode, "--window", "X Y W H",
                    "import only W samples x H lines from sample X, line Y",
                    "four whole numbers X Y >= 0, W H >= 1", 4, [o](auto& v) {
                        ingest::Window& w = o->window.emplace();
                        return parse_whole_number(v[0], 0, INT_MAX, &w.x) &&
                               parse_whole_number(v[1], 0, INT_MAX, &w.y) &&
                               parse_whole_number(v[2], 1, INT_MAX, &w.width) &&
                               parse_whole_number(v[3], 1, INT_MAX, &w.lines);
                    });
    }
    add_checked(*pair, "--offset", "RANGE AZIMUTH", "coarse offset in samples and lines",
                "two whole numbers", 2, [o](auto& v) {
                    ingest::IntegerOffset& d = o->offset.emplace();
                    return parse_whole_number(v[0], INT_MIN + 1L, INT_MAX, &d.range) &&
                           parse_whole_number(v[1], INT_MIN + 1L, INT_MAX, &d.azimuth);
                });
    const int status = parse_command_line(app, argc, argv);
    o->pair = pair->parsed();
    return status;
}

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
    if (!options.pair) {
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
    if (const int status = parse_options(argc, argv, &options); status >= 0)
        return status;
    remove_pending_outputs_on_signals(); // no *.tmp.<pid> left by Ctrl-C or kill
    try {
        run(options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "finecoreg-import: %s\n", e.what());
        return 1;
    }
    return 0;
}
