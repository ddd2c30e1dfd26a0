#include "options.h"

#include "command_line.h"

#include <climits>

int parse_options(int argc, const char* const* argv, Options* o) {
    CLI::App app("Fine co-registration of a slave SLC image to a master SLC image: measures the\n"
                 "offsets on a grid and fits the range and azimuth offset polynomials. Each image\n"
                 "needs its XML parameter file beside it (the path up to its last '.' + \".xml\").",
                 "finecoreg");
    set_up_app(app,
               "Exit status: 0 success, 1 failure (a missing input file, a plug-in that cannot\n"
               "be loaded, or a failed run; the reason on standard error), 2 bad usage.\n"
               "A fatal numerical error inside the module ends the process with status 255.");
    RunRequest& run = o->run;
    add_path(app, "--master", &run.masterPath, "master SLC image (required)")->required();
    add_path(app, "--slave", &run.slavePath, "slave SLC image (required)")->required();
    add_path(app, "--off", &run.offsetParPath,
             "offset parameter file holding the coarse offsets\n(required)")
        ->required();
    const struct {
        const char* name;
        int* count;
        const char* help;
    } counts[] = {
        {"--window-width", &run.windowWidth, "correlation window width in samples (default 64)"},
        {"--window-height", &run.windowHeight, "correlation window height in lines (default 64)"},
        {"--range-samples", &run.rangeSamples, "number of offset estimates in range (default 32)"},
        {"--azimuth-samples", &run.azimuthSamples,
         "number of offset estimates in azimuth (default 32)"},
        {"--threads", &run.threads,
         "measure on N threads in this process (default 1:\nthe plug-in, on the calling thread, as "
         "the\nplatform runs it)"},
    };
    for (const auto& c : counts)
        add_checked(
            app, c.name, "N", c.help, "a positive whole number",
            [count = c.count](auto& text) { return parse_whole_number(text, 1, INT_MAX, count); });
    add_checked(app, "--snr-threshold", "X", "SNR an estimate must exceed to be kept (default 7.0)",
                "a number",
                [&run](auto& text) { return parse_finite_number(text, &run.snrThreshold); });
    app.add_flag("--overwrite", run.overwrite,
                 "write the fitted offset parameters over the --off\nfile instead of beside it, "
                 "named <off up to\nits last '.'>_new.off");
    add_path(app, "--plugin", &o->pluginPath,
             "the plug-in to load (default: the one installed\nbeside the tool, else the one built "
             "with it);\nruns on one thread");
    app.add_flag("--quiet", o->quiet, "no progress display");
    return parse_command_line(app, argc, argv);
}
