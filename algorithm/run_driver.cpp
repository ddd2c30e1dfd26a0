#include "algorithm/run_driver.h"

#include "algorithm/work_files.h"

#include <cstdio>
#include <sys/stat.h>

namespace {

bool is_empty_file(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0;
}

// An empty work file of stage 1 holds nothing worth keeping when stage 1
// does not complete (a failure, or an exception from the XML reader passing
// to the caller); files with rows stay as evidence. Every name was free when
// reserved, so whatever is there now this run created.
class EmptyStageOneFilesCleanup {
public:
    explicit EmptyStageOneFilesCleanup(const WorkFiles& files) : files_(files) {}
    ~EmptyStageOneFilesCleanup() {
        if (dismissed_)
            return;
        for (const std::string* path : {&files_.offsets, &files_.snr, &files_.listing})
            if (!path->empty() && is_empty_file(*path))
                std::remove(path->c_str());
    }
    EmptyStageOneFilesCleanup(const EmptyStageOneFilesCleanup&) = delete;
    EmptyStageOneFilesCleanup& operator=(const EmptyStageOneFilesCleanup&) = delete;
    void dismiss() { dismissed_ = true; }

private:
    const WorkFiles& files_;
    bool dismissed_ = false;
};

} // namespace

bool drive_run(const std::string& masterPath, const RunStages& stages, bool keepWorkFiles,
               WorkFiles* used) {
    WorkFiles files;
    if (!reserve_work_files(masterPath, files)) {
        // No name could be reserved (say, a directory this run may not write
        // to). A fixed fallback name could belong to another run whose files
        // this run can still overwrite; empty names never open, so stage 1
        // reports that it cannot create its files, in its own order.
        files = WorkFiles{};
    }
    if (used != nullptr)
        *used = files;

    EmptyStageOneFilesCleanup cleanup(files);
    if (!stages.estimate(files))
        return false;
    cleanup.dismiss();
    if (!stages.fit(files))
        return false;
    if (keepWorkFiles)
        return true;

    for (const std::string* path :
         {&files.offsets, &files.listing, &files.snr, &files.culledOffsets, &files.culledListing})
        std::remove(path->c_str());
    return true;
}

bool run_fine_coreg(const RunRequest& request, StageReporter& reporter, RunResult* result,
                    bool keepWorkFiles) {
    if (const char* problem = check_run_request(request)) {
        reporter.failure(problem);
        return false;
    }
    OffsetMeasurements* measurements = result ? &result->measurements : nullptr;
    OffsetFit* fit = result ? &result->fit : nullptr;
    return drive_run(
        request.masterPath,
        {[&](const WorkFiles& files) {
             return estimate_offsets(request, files, reporter, measurements);
         },
         [&](const WorkFiles& files) { return fit_offsets(request, files, reporter, fit); }},
        keepWorkFiles, result ? &result->workFiles : nullptr);
}
