#include "algorithm/run_driver.h"

#include "algorithm/work_files.h"
#include "fitting/determined_terms.h"
#include "params/file_error.h"
#include "params/file_handle.h"
#include "params/offset_par.h"
#include "params/offset_par_file.h"
#include "params/pending_output.h"
#include "params/sample_format.h"
#include "params/sar_image_xml.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
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

// The window against the master's size from its XML file; an XML file that
// does not read is left to stage 1, which reports it in its own words.
std::string window_problem(const RunRequest& request) {
    auto info = std::make_unique<stSarImageInfo>();
    try {
        if (!read_sar_image_xml(image_xml_path(request.masterPath), *info))
            return {};
    } catch (const std::exception&) {
        return {};
    }
    return window_exceeds_image_message(request, info->numberOfColumns, info->numberOfRows);
}

// Refits with only the terms the kept positions determine, the others held
// at zero, and rewrites the fitted file with that fit; leaves everything as
// it is when they determine all six. The failure message, or empty.
std::string hold_undetermined_terms(const OffsetMeasurements& m, OffsetFit& fit) {
    WeightedPositions p;
    std::vector<double> range, azimuth;
    for (std::size_t cell = 0; cell < fit.keptAt.size(); cell++) {
        if (!fit.keptAt[cell])
            continue;
        const int i = static_cast<int>(cell / m.grid.rangeSamples);
        const int j = static_cast<int>(cell % m.grid.rangeSamples);
        p.x.push_back(static_cast<double>(m.grid.range_position(j)));
        p.y.push_back(static_cast<double>(m.grid.azimuth_position(i)));
        p.weight.push_back(m.snr[cell]); // 1 / sigma, as in stage 2
        range.push_back(m.rangeOffset[cell]);
        azimuth.push_back(m.azimuthOffset[cell]);
    }
    const unsigned determined = determined_terms(p, m.masterWidth, m.masterLines);
    if (determined == kAllOffsetTerms)
        return {};
    if (determined == 0)
        return "The kept offset estimates determine no term of the offset polynomials !";
    const TermFit r = fit_terms(p, range, m.masterWidth, m.masterLines, determined);
    const TermFit a = fit_terms(p, azimuth, m.masterWidth, m.masterLines, determined);
    stOffsetParInfo par{};
    {
        const FileHandle in = open_file(fit.fittedOffsetParPath, "r");
        if (!in)
            return "Failed to open the off file !";
        read_offset_par(in.get(), &par);
    }
    std::copy_n(r.coefficients, 6, par.range_offset_polynomial);
    std::copy_n(a.coefficients, 6, par.azimuth_offset_polynomial);
    if (!write_offset_par_file(fit.fittedOffsetParPath, par))
        return "Failed to write the off file !";
    std::copy_n(r.coefficients, 6, fit.rangePolynomial);
    std::copy_n(a.coefficients, 6, fit.azimuthPolynomial);
    std::copy_n(r.errors, 6, fit.rangeErrors);
    std::copy_n(a.errors, 6, fit.azimuthErrors);
    fit.rangeStdDev = r.stdDev;
    fit.azimuthStdDev = a.stdDev;
    fit.heldTerms = kAllOffsetTerms & ~determined;
    return {};
}

} // namespace

std::string short_image_problem(const RunRequest& request) {
    try {
        auto master = std::make_unique<stSarImageInfo>();
        auto slave = std::make_unique<stSarImageInfo>();
        if (!read_sar_image_xml(image_xml_path(request.masterPath), *master) ||
            !read_sar_image_xml(image_xml_path(request.slavePath), *slave))
            return {};
        const SampleFormat format = sample_format_of(master->imageDataType);
        const long long sample = bytes_per_sample(format);
        for (const auto& [path, info] : {std::pair{&request.masterPath, master.get()},
                                         std::pair{&request.slavePath, slave.get()}}) {
            struct stat st;
            if (::stat(path->c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
                info->numberOfColumns < 1 || info->numberOfRows < 1)
                continue;
            // A size the file cannot hold at all is stage 1's to refuse, in
            // its words; one it holds in part is what is checked here.
            const long long line = info->numberOfColumns * sample;
            if (line > st.st_size || info->numberOfRows > 2 * (st.st_size / line))
                continue;
            check_image_length(*path, st.st_size, info->numberOfColumns, info->numberOfRows,
                               format);
        }
    } catch (const FileError& e) {
        return e.what();
    } catch (const std::exception&) {
    }
    return {};
}

std::optional<std::string> offset_file_before_run(const RunRequest& request) {
    if (!request.overwrite)
        return std::nullopt;
    const std::string& path = request.offsetParPath;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void withdraw_fit(const RunRequest& request, const std::optional<std::string>& original) {
    const std::string fitted = fitted_offset_par_path(request.offsetParPath, request.overwrite);
    if (!request.overwrite || !original) {
        std::remove(fitted.c_str());
        return;
    }
    try {
        PendingOutput restored(fitted);
        restored.write(original->data(), original->size());
        restored.commit();
    } catch (const std::exception&) {
        // the fitted file stays; the caller's failure message still stands
    }
}

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
    for (const std::string& problem : {window_problem(request), short_image_problem(request)})
        if (!problem.empty()) {
            reporter.failure(problem.c_str());
            return false;
        }
    const std::optional<std::string> original = offset_file_before_run(request);
    RunResult own;
    OffsetMeasurements* measurements = result ? &result->measurements : &own.measurements;
    OffsetFit* fit = result ? &result->fit : &own.fit;
    const bool ok = drive_run(
        request.masterPath,
        {[&](const WorkFiles& files) {
             return estimate_offsets(request, files, reporter, measurements);
         },
         [&](const WorkFiles& files) { return fit_offsets(request, files, reporter, fit); }},
        keepWorkFiles, result ? &result->workFiles : nullptr);
    if (!ok)
        return false;
    // The plug-in gives a fit from fewer estimates as a success; here the
    // user reads the result, and an underdetermined fit must not pass.
    if (fit->kept < kMinKeptEstimates) {
        withdraw_fit(request, original);
        reporter.failure(too_few_estimates_message(fit->kept).c_str());
        return false;
    }
    if (const std::string problem = hold_undetermined_terms(*measurements, *fit);
        !problem.empty()) {
        withdraw_fit(request, original);
        reporter.failure(problem.c_str());
        return false;
    }
    return true;
}
