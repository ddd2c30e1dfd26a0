// finecoreg: runs the fine co-registration plug-in from the command line the
// way the platform hosts it (factory, parameter slot, progress signal,
// Execute, error information).
#include "algorithm/FineCoregistrationInfo.h"
#include "algorithm/run_driver.h"
#include "fitting/determined_terms.h"
#include "input_files.h"
#include "options.h"
#include "params/file_naming.h"
#include "params/pending_output.h"
#include "params/run_request.h"
#include "params/sar_image_xml.h"
#include "plugin_loader.h"
#include "progress_reporter.h"
#include "run_summary.h"
#include "stdout_tap.h"

#include <QString>
#include <boost/any.hpp>
#include <boost/signals2/connection.hpp>
#include <cstdio>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

enum ExitStatus { kSuccess = 0, kFailure = 1 };

constexpr int kSuccessCode = 666;

int fail(int status, const std::string& message) {
    std::fflush(stdout);
    std::fprintf(stderr, "finecoreg: %s\n", message.c_str());
    return status;
}

stFineCoregistrationInfo make_record(const Options& o) {
    stFineCoregistrationInfo info;
    info.masterImagePath = QString::fromLocal8Bit(o.run.masterPath.c_str());
    info.slaveImagePath = QString::fromLocal8Bit(o.run.slavePath.c_str());
    info.offsetParPath = QString::fromLocal8Bit(o.run.offsetParPath.c_str());
    info.windowHeight = o.run.windowHeight;
    info.windowWidth = o.run.windowWidth;
    info.azimuthSamples = o.run.azimuthSamples;
    info.rangeSamples = o.run.rangeSamples;
    info.overwriteOffsetPar = o.run.overwrite;
    info.snrThreshold = o.run.snrThreshold;
    return info;
}

// An exception out of Execute comes from the XML reader (a missing or
// malformed numeric element). Reading both files again names the culprit.
std::string explain_exception(const Options& o, const char* what) {
    for (const std::string& image : {o.run.masterPath, o.run.slavePath}) {
        const std::string xml = absolute_image_xml_path(image);
        try {
            auto info = std::make_unique<stSarImageInfo>();
            read_sar_image_xml(xml, *info);
        } catch (const std::exception& e) {
            return "malformed image parameter file " + xml + ": " + e.what();
        }
    }
    return std::string("the run ended with an error: ") + what;
}

// A window larger than the master image would only end in "no offsets
// found"; said before the run instead. An XML file that does not read is
// left to the module.
std::string window_against_master(const Options& o) {
    auto info = std::make_unique<stSarImageInfo>();
    try {
        if (!read_sar_image_xml(absolute_image_xml_path(o.run.masterPath), *info))
            return {};
    } catch (const std::exception&) {
        return {};
    }
    return window_exceeds_image_message(o.run, info->numberOfColumns, info->numberOfRows);
}

// One run with the module's standard output read line by line for the
// summary (and the progress line cleared before a line on a shared
// terminal). An exception that leaves the run becomes the text to show.
struct TappedRun {
    bool ok = false;
    std::string exceptionText;
};

TappedRun run_tapped(const Options& o, ProgressReporter& progress, FitReport& fit,
                     const std::function<bool()>& body) {
    TappedRun r;
    const bool sameTerminal = ::isatty(STDOUT_FILENO) && ::isatty(STDERR_FILENO);
    StdoutTap tap([&fit](const std::string& line) { fit.take_line(line); },
                  [&progress, sameTerminal] {
                      if (sameTerminal)
                          progress.clear_line();
                  });
    try {
        r.ok = body();
    } catch (const std::exception& e) {
        r.exceptionText = explain_exception(o, e.what());
    } catch (...) {
        r.exceptionText = "the run ended with an unknown exception";
    }
    return r;
}

int run(const Options& o, AlgoFactory factory) {
    std::unique_ptr<Oskal::IOskal> algo(factory());
    if (!algo)
        return fail(kFailure, "the plug-in's GetAlgoObj returned no object");

    boost::any slot = make_record(o);
    algo->SetParams(slot);

    ProgressReporter progress(progress_style(o.quiet), stderr);
    boost::signals2::scoped_connection connection =
        algo->m_progress.connect([&progress](double percent, const QString&, void*) {
            progress.update(percent);
            return 0;
        });

    RunRequest request = o.run;
    request.offsetParPath = absolute_path(o.run.offsetParPath);
    const std::optional<std::string> original = offset_file_before_run(request);
    FitReport fit;
    const auto [ok, exceptionText] =
        run_tapped(o, progress, fit, [&algo] { return algo->Execute(); });
    progress.finish(exceptionText.empty() && ok);

    if (!exceptionText.empty())
        return fail(kFailure, exceptionText);
    if (algo->GetStatus() == 100)
        return fail(kFailure, "the plug-in did not accept the parameter record (status 100)");
    int code = 0;
    QString message;
    algo->GetErrorInfo(code, message);
    if (!ok || code != kSuccessCode) {
        const std::string text = message.trimmed().toLocal8Bit().toStdString();
        return fail(kFailure,
                    text.empty() ? "the run failed (code " + std::to_string(code) + ")" : text);
    }
    // The plug-in calls a fit from too few estimates a success; its user
    // must not take it for one. The tool withdraws it as its own driver does
    // on threads, so the answer does not depend on the thread count.
    if (fit.haveCounts && fit.accepted < kMinKeptEstimates) {
        withdraw_fit(request, original);
        return fail(kFailure, too_few_estimates_message(fit.accepted));
    }
    const std::string fitted = fitted_offset_par_path(request.offsetParPath, o.run.overwrite);
    print_summary(stdout, fitted, fit, absolute_image_xml_path(o.run.masterPath));
    // The plug-in's fit stays as it made it; its user learns what it rests on.
    if (const std::string terms =
            undetermined_terms(fit, request, absolute_image_xml_path(o.run.masterPath));
        !terms.empty())
        std::fprintf(stderr,
                     "finecoreg: warning: the accepted estimates do not determine the terms %s; "
                     "the plug-in's fit gives them values all the same (a run on several threads "
                     "holds them at zero)\n",
                     terms.c_str());
    return kSuccess;
}

// Shows the stages' progress and keeps the failure message, as the plug-in's
// signal and error information would.
class ToolReporter : public StageReporter {
public:
    explicit ToolReporter(ProgressReporter& progress) : progress_(progress) {}
    void progress(double percent) override { progress_.update(percent); }
    void failure(const char* message) override { message_ = message; }
    const std::string& message() const { return message_; }

private:
    ProgressReporter& progress_;
    std::string message_;
};

// The same run through the host-free run driver in this process, its stage 1
// on o.run.threads threads: the same files, diagnostics, messages and exit
// statuses as through the plug-in (whose Execute starts no threads).
int run_in_process(const Options& o) {
    RunRequest request = o.run;
    for (std::string* path : {&request.masterPath, &request.slavePath, &request.offsetParPath})
        *path = absolute_path(*path);
    ProgressReporter progress(progress_style(o.quiet), stderr);
    ToolReporter reporter(progress);
    progress.update(0.0); // as Execute signals before the stages

    FitReport fit;
    RunResult result;
    const auto [ok, exceptionText] = run_tapped(o, progress, fit, [&request, &reporter, &result] {
        return run_fine_coreg(request, reporter, &result);
    });
    progress.finish(exceptionText.empty() && ok);

    if (!exceptionText.empty())
        return fail(kFailure, exceptionText);
    if (!ok)
        return fail(kFailure, reporter.message());
    fit.heldTerms = term_names(result.fit.heldTerms);
    if (!fit.heldTerms.empty()) { // the transcript's closing figures are those of all six terms
        fit.rangeStdDev = result.fit.rangeStdDev;
        fit.azimuthStdDev = result.fit.azimuthStdDev;
    }
    print_summary(stdout, fitted_offset_par_path(request.offsetParPath, o.run.overwrite), fit,
                  absolute_image_xml_path(o.run.masterPath));
    return kSuccess;
}

} // namespace

int main(int argc, char** argv) {
    // Outputs this process writes itself (the run on threads) go on a signal.
    remove_pending_outputs_on_signals();
    Options o;
    if (const int status = parse_options(argc, argv, &o); status >= 0)
        return status;

    const std::string missing = check_input_files(o);
    if (!missing.empty())
        return fail(kFailure, missing);

    const std::string tooLarge = window_against_master(o);
    if (!tooLarge.empty())
        return fail(kFailure, tooLarge);
    // On any number of threads: the plug-in alone zero-fills a short file.
    const std::string shortImage = short_image_problem(o.run);
    if (!shortImage.empty())
        return fail(kFailure, shortImage);
    if (o.run.threads > 1 && o.pluginPath.empty())
        return run_in_process(o);

    std::string plugin = o.pluginPath;
    if (plugin.empty()) {
        plugin = find_default_plugin();
        if (plugin.empty())
            return fail(kFailure, "no plug-in found beside the tool or in the build tree; "
                                  "name one with --plugin PATH");
    }
    std::string error;
    const AlgoFactory factory = load_plugin(plugin, &error);
    if (!factory)
        return fail(kFailure, error);
    return run(o, factory);
}
