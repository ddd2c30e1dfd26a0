// The run driver: RunRequest in, RunResult out, the same stage code the
// plug-in runs.
#include "algorithm/run_driver.h"
#include "binding.h"
#include "fitting/determined_terms.h"

#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <pybind11/numpy.h>
#include <stdexcept>
#include <unistd.h>

namespace {

// The library's state is process-wide: one run at a time in this process.
std::mutex& run_mutex() {
    static std::mutex m;
    return m;
}

// Stage 1 asks cancelled() before each position: a kept exception stops the
// run there, and the stage's own failure path cleans up.
class CancellingReporter : public StageReporter {
public:
    explicit CancellingReporter(PythonProgress& progress) : progress_(progress) {}
    void progress(double percent) override { progress_.poll(percent); }
    bool cancelled() override { return progress_.failed(); }
    void failure(const char* message) override { failure_ = message; }
    const std::string& failure_message() const { return failure_; }

private:
    PythonProgress& progress_;
    std::string failure_;
};

// Sends the library's diagnostics (standard output) to a file for the run.
class StdoutRedirect {
public:
    explicit StdoutRedirect(const std::string& path) {
        if (path.empty())
            return;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0)
            throw FileError(path, "cannot be written (the log file)");
        std::fflush(stdout);
        saved_ = ::dup(STDOUT_FILENO);
        ::dup2(fd, STDOUT_FILENO);
        ::close(fd);
    }
    ~StdoutRedirect() {
        if (saved_ < 0)
            return;
        std::fflush(stdout);
        ::dup2(saved_, STDOUT_FILENO);
        ::close(saved_);
    }
    StdoutRedirect(const StdoutRedirect&) = delete;
    StdoutRedirect& operator=(const StdoutRedirect&) = delete;

private:
    int saved_ = -1;
};

template <class T> py::array_t<T> grid_array(const std::vector<T>& values, int rows, int cols) {
    py::array_t<T> out({rows, cols});
    std::copy(values.begin(), values.end(), out.mutable_data());
    return out;
}

py::array_t<bool> grid_flags(const std::vector<unsigned char>& flags, int rows, int cols) {
    py::array_t<bool> out({rows, cols});
    std::transform(flags.begin(), flags.end(), out.mutable_data(),
                   [](unsigned char f) { return f != 0; });
    return out;
}

py::array_t<double> six(const double* values) {
    py::array_t<double> out(6);
    std::copy(values, values + 6, out.mutable_data());
    return out;
}

int rows_of(const RunResult& r) {
    return r.measurements.grid.azimuthSamples;
}
int cols_of(const RunResult& r) {
    return r.measurements.grid.rangeSamples;
}

template <class Get> void path_field(py::class_<RunRequest>& c, const char* name, Get get) {
    c.def_property(
        name, [get](const RunRequest& r) { return fs_str(r.*get); },
        [get, name](RunRequest& r, const py::object& v) { r.*get = fs_path(v, name); });
}

RunResult run(const RunRequest& request, const py::object& progress, const py::object& log,
              bool keep_work_files) {
    if (const char* problem = check_run_request(request))
        throw std::invalid_argument(problem);
    const std::string log_path = log.is_none() ? std::string() : fs_path(log, "log");
    PythonProgress adapter(progress);
    CancellingReporter reporter(adapter);
    RunResult result;
    const bool ok = released(adapter, [&] {
        std::lock_guard<std::mutex> lock(run_mutex());
        StdoutRedirect redirect(log_path);
        struct Flush {
            ~Flush() { std::fflush(stdout); }
        } flush;
        return run_fine_coreg(request, reporter, &result, keep_work_files);
    });
    if (adapter.failed()) {
        // The run stopped at the position after the exception: a stopped run
        // is no failure to inspect, so its work files go too.
        const WorkFiles& w = result.workFiles;
        for (const std::string* path :
             {&w.offsets, &w.snr, &w.listing, &w.culledOffsets, &w.culledListing})
            if (!path->empty())
                std::remove(path->c_str());
        adapter.raise();
    }
    if (!ok)
        throw std::runtime_error(reporter.failure_message());
    return result;
}

} // namespace

void bind_run(py::module_& m) {
    py::class_<RunRequest> request(m, "RunRequest", "What one co-registration run is asked to do.");
    request.def(py::init<>());
    path_field(request, "master", &RunRequest::masterPath);
    path_field(request, "slave", &RunRequest::slavePath);
    path_field(request, "offset_par", &RunRequest::offsetParPath);
    request.def_readwrite("window_width", &RunRequest::windowWidth)
        .def_readwrite("window_height", &RunRequest::windowHeight)
        .def_readwrite("range_samples", &RunRequest::rangeSamples)
        .def_readwrite("azimuth_samples", &RunRequest::azimuthSamples)
        .def_readwrite("snr_threshold", &RunRequest::snrThreshold)
        .def_readwrite("overwrite", &RunRequest::overwrite)
        .def_readwrite("threads", &RunRequest::threads)
        .def(
            "check",
            [](const RunRequest& r) {
                if (const char* problem = check_run_request(r))
                    throw std::invalid_argument(problem);
            },
            "ValueError with the library's message when the request cannot run.");

    py::class_<WorkFiles>(m, "WorkFiles", "The work files of a run.")
        .def_property_readonly("offsets", [](const WorkFiles& w) { return fs_str(w.offsets); })
        .def_property_readonly("snr", [](const WorkFiles& w) { return fs_str(w.snr); })
        .def_property_readonly("listing", [](const WorkFiles& w) { return fs_str(w.listing); })
        .def_property_readonly("culled_offsets",
                               [](const WorkFiles& w) { return fs_str(w.culledOffsets); })
        .def_property_readonly("culled_listing",
                               [](const WorkFiles& w) { return fs_str(w.culledListing); });

    using R = const RunResult&;
    py::class_<RunResult>(m, "RunResult", "What one run measured on its grid and fitted.")
        .def_property_readonly("range_positions",
                               [](R r) {
                                   py::array_t<long long> out(cols_of(r));
                                   for (int j = 0; j < cols_of(r); j++)
                                       out.mutable_data()[j] =
                                           r.measurements.grid.range_position(j);
                                   return out;
                               })
        .def_property_readonly("azimuth_positions",
                               [](R r) {
                                   py::array_t<long long> out(rows_of(r));
                                   for (int i = 0; i < rows_of(r); i++)
                                       out.mutable_data()[i] =
                                           r.measurements.grid.azimuth_position(i);
                                   return out;
                               })
        .def_property_readonly(
            "range_offset",
            [](R r) { return grid_array(r.measurements.rangeOffset, rows_of(r), cols_of(r)); })
        .def_property_readonly(
            "azimuth_offset",
            [](R r) { return grid_array(r.measurements.azimuthOffset, rows_of(r), cols_of(r)); })
        .def_property_readonly(
            "snr", [](R r) { return grid_array(r.measurements.snr, rows_of(r), cols_of(r)); })
        .def_property_readonly(
            "accepted",
            [](R r) { return grid_flags(r.measurements.accepted, rows_of(r), cols_of(r)); })
        .def_property_readonly("kept",
                               [](R r) { return grid_flags(r.fit.keptAt, rows_of(r), cols_of(r)); })
        .def_property_readonly("range_polynomial", [](R r) { return six(r.fit.rangePolynomial); })
        .def_property_readonly("azimuth_polynomial",
                               [](R r) { return six(r.fit.azimuthPolynomial); })
        .def_property_readonly("range_errors", [](R r) { return six(r.fit.rangeErrors); })
        .def_property_readonly("azimuth_errors", [](R r) { return six(r.fit.azimuthErrors); })
        .def_property_readonly("range_std", [](R r) { return r.fit.rangeStdDev; })
        .def_property_readonly("azimuth_std", [](R r) { return r.fit.azimuthStdDev; })
        .def_property_readonly("accepted_count", [](R r) { return r.measurements.acceptedCount; })
        .def_property_readonly("kept_count", [](R r) { return r.fit.kept; })
        .def_property_readonly("samples", [](R r) { return r.fit.samples; })
        .def_property_readonly("passes", [](R r) { return r.fit.passes; })
        .def_property_readonly("held_terms",
                               [](R r) {
                                   py::list names;
                                   for (int k = 0; k < 6; k++)
                                       if ((r.fit.heldTerms >> k) & 1u)
                                           names.append(kOffsetTermNames[k]);
                                   return py::tuple(names);
                               })
        .def_property_readonly("image_width", [](R r) { return r.measurements.masterWidth; })
        .def_property_readonly("image_lines", [](R r) { return r.measurements.masterLines; })
        .def_property_readonly("fitted_offset_par",
                               [](R r) { return fs_str(r.fit.fittedOffsetParPath); })
        .def_readonly("work_files", &RunResult::workFiles);

    m.def("run", &run, py::arg("request"), py::kw_only(), py::arg("progress") = py::none(),
          py::arg("log") = py::none(), py::arg("keep_work_files") = false,
          R"(Runs both stages of a request.

Parameters
----------
request : RunRequest
progress : callable or None
    Called with the percent done before each grid position.
log : path or None
    File for the library's diagnostics (standard output when None).
keep_work_files : bool

Returns
-------
RunResult

Raises
------
ValueError
    The request cannot run (before anything is opened).
finecoreg.Error
    The run failed; the message is the library's.
)");
}
