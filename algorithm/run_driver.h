#pragma once

#include "estimation/stage_one.h"
#include "fitting/stage_two.h"
#include "params/file_naming.h"
#include "params/run_request.h"
#include "params/stage_reporter.h"

#include <functional>
#include <optional>
#include <string>

// Everything one run measured and fitted.
struct RunResult {
    OffsetMeasurements measurements;
    OffsetFit fit;
    WorkFiles workFiles; // names used; the files exist only when kept
};

// The two stages of a run, each given the run's work files.
struct RunStages {
    std::function<bool(const WorkFiles&)> estimate;
    std::function<bool(const WorkFiles&)> fit;
};

// Reserves work-file names in the master's directory (masterPath absolute,
// as a byte string), runs stage 1 and, when it succeeds, stage 2, and
// removes the work files after a complete success. After a failure the work
// files stay for inspection, except the empty ones of a stage 1 that did
// not complete: they hold nothing. True when both stages succeed.
// With keepWorkFiles they stay after a success too, and their names are left
// in *used.
[[nodiscard]] bool drive_run(const std::string& masterPath, const RunStages& stages,
                             bool keepWorkFiles = false, WorkFiles* used = nullptr);

// "<image>: is short: ..." when the master or the slave file holds less than
// the raster its XML file claims (in the master's format, as stage 1 reads
// both), else empty. The plug-in reads such a file to its end and zero-fills
// the rest; every other entry point refuses it before the run.
std::string short_image_problem(const RunRequest& request);

// The offset file as it was before a run that writes its fit over it (empty
// otherwise), so that a fit refused afterwards can be withdrawn.
std::optional<std::string> offset_file_before_run(const RunRequest& request);

// Undoes the fit of a run whose result is refused: the fitted file goes, or,
// written over the offset file, the offset file is put back as it was.
void withdraw_fit(const RunRequest& request, const std::optional<std::string>& original);

// A whole run as a library call: checks the request (a bad one is refused
// before anything is opened or written), then drives both stages. The
// request's paths must be absolute. Fills result when one is given.
// Unlike the plug-in it also refuses, before the run, a window larger than
// the master image and, after it, a final fit that kept fewer than
// kMinKeptEstimates estimates; that run's fit is then withdrawn (removed, or
// with overwrite the offset file put back as it was). When the kept
// positions do not determine every polynomial term (see determined_terms),
// it refits with the determined ones only, holds the others at zero,
// rewrites the fitted file and names them in the fit's heldTerms; when they
// determine none, it refuses the fit and withdraws it.
[[nodiscard]] bool run_fine_coreg(const RunRequest& request, StageReporter& reporter,
                                  RunResult* result = nullptr, bool keepWorkFiles = false);
