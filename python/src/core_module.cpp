// finecoreg._core: the thin binding of the run driver. It turns a request
// into a run of the same stage code the plug-in runs, and the run's record
// into numpy arrays; everything user-facing lives in the Python package.
#include "algorithm/run_driver.h"
#include "numeric/fatal.h"

#include <atomic>
#include <cstdio>
#include <exception>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <pybind11/functional.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace py = pybind11;

namespace {

// A fatal numerical error of the module, thrown instead of ending the
// interpreter.
struct FatalNumericalError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void throw_fatal(const char* message) {
    throw FatalNumericalError(message);
}

// The module's state is process-wide: one run at a time in this process.
std::mutex& run_mutex() {
    static std::mutex m;
    return m;
}

// Sends progress to a Python callable (taking the GIL for the call) and
// keeps the failure message. An exception from the callable (sys.exit
// included) cancels the run at the next position and is raised, unchanged,
// after the run.
class CallbackReporter : public StageReporter {
public:
    explicit CallbackReporter(std::optional<py::function> progress)
        : progress_(std::move(progress)) {}

    void progress(double percent) override {
        if (!progress_ || callbackError_)
            return;
        py::gil_scoped_acquire gil;
        try {
            (*progress_)(percent);
        } catch (py::error_already_set& e) {
            callbackError_ = std::make_unique<py::error_already_set>(std::move(e));
            cancelled_ = true;
        }
    }
    bool cancelled() override { return cancelled_; }
    void failure(const char* message) override { failure_ = message; }

    const std::string& failure_message() const { return failure_; }
    void rethrow_callback_error() {
        if (callbackError_)
            throw std::move(*callbackError_);
    }

private:
    std::optional<py::function> progress_;
    std::unique_ptr<py::error_already_set> callbackError_;
    std::atomic<bool> cancelled_{false};
    std::string failure_;
};

// Sends the module's diagnostics (standard output) to a file for the run.
class StdoutRedirect {
public:
    explicit StdoutRedirect(const std::string& path) {
        if (path.empty())
            return;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0)
            throw std::invalid_argument("cannot write the log file " + path);
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
    bool* data = out.mutable_data();
    for (std::size_t k = 0; k < flags.size(); k++)
        data[k] = flags[k] != 0;
    return out;
}

py::array_t<double> six(const double* values) {
    py::array_t<double> out(6);
    std::copy(values, values + 6, out.mutable_data());
    return out;
}

py::dict result_record(const RunResult& r) {
    const OffsetMeasurements& m = r.measurements;
    const OffsetFit& f = r.fit;
    const int rows = m.grid.azimuthSamples;
    const int cols = m.grid.rangeSamples;
    py::array_t<long long> rangePositions(cols), azimuthPositions(rows);
    for (int j = 0; j < cols; j++)
        rangePositions.mutable_data()[j] = m.grid.range_position(j);
    for (int i = 0; i < rows; i++)
        azimuthPositions.mutable_data()[i] = m.grid.azimuth_position(i);

    py::dict d;
    d["range_positions"] = rangePositions;
    d["azimuth_positions"] = azimuthPositions;
    d["range_offset"] = grid_array(m.rangeOffset, rows, cols);
    d["azimuth_offset"] = grid_array(m.azimuthOffset, rows, cols);
    d["snr"] = grid_array(m.snr, rows, cols);
    d["accepted"] = grid_flags(m.accepted, rows, cols);
    d["kept"] = grid_flags(f.keptAt, rows, cols);
    d["range_polynomial"] = six(f.rangePolynomial);
    d["azimuth_polynomial"] = six(f.azimuthPolynomial);
    d["range_errors"] = six(f.rangeErrors);
    d["azimuth_errors"] = six(f.azimuthErrors);
    d["range_std"] = f.rangeStdDev;
    d["azimuth_std"] = f.azimuthStdDev;
    d["accepted_count"] = m.acceptedCount;
    d["kept_count"] = f.kept;
    d["samples"] = f.samples;
    d["passes"] = f.passes;
    d["image_width"] = m.masterWidth;
    d["image_lines"] = m.masterLines;
    d["fitted_offset_par"] = py::bytes(f.fittedOffsetParPath);
    const WorkFiles& w = r.workFiles;
    d["work_files"] = py::make_tuple(py::bytes(w.offsets), py::bytes(w.snr), py::bytes(w.listing),
                                     py::bytes(w.culledOffsets), py::bytes(w.culledListing));
    return d;
}

RunRequest make_request(const std::string& master, const std::string& slave,
                        const std::string& offsetPar, int windowWidth, int windowHeight,
                        int rangeSamples, int azimuthSamples, double snrThreshold, bool overwrite,
                        int threads = 1) {
    RunRequest r;
    r.masterPath = master;
    r.slavePath = slave;
    r.offsetParPath = offsetPar;
    r.windowWidth = windowWidth;
    r.windowHeight = windowHeight;
    r.rangeSamples = rangeSamples;
    r.azimuthSamples = azimuthSamples;
    r.snrThreshold = snrThreshold;
    r.overwrite = overwrite;
    r.threads = threads;
    return r;
}

// None when the request can run, else the module's message.
std::optional<std::string> check(int windowWidth, int windowHeight, int rangeSamples,
                                 int azimuthSamples, double snrThreshold, int threads) {
    const RunRequest r = make_request({}, {}, {}, windowWidth, windowHeight, rangeSamples,
                                      azimuthSamples, snrThreshold, false, threads);
    if (const char* problem = check_run_request(r))
        return std::string(problem);
    return std::nullopt;
}

// Runs both stages. Returns (None, record) after a success, (message, None)
// after a failure the module reported or a fatal numerical error.
py::tuple run(const py::bytes& master, const py::bytes& slave, const py::bytes& offsetPar,
              int windowWidth, int windowHeight, int rangeSamples, int azimuthSamples,
              double snrThreshold, bool overwrite, std::optional<py::function> progress,
              const py::bytes& logPath, bool keepWorkFiles, int threads) {
    const RunRequest request =
        make_request(master, slave, offsetPar, windowWidth, windowHeight, rangeSamples,
                     azimuthSamples, snrThreshold, overwrite, threads);
    CallbackReporter reporter(std::move(progress));
    RunResult result;
    bool ok = false;
    std::string error;
    {
        py::gil_scoped_release release;
        std::lock_guard<std::mutex> lock(run_mutex());
        StdoutRedirect redirect(logPath);
        try {
            ok = run_fine_coreg(request, reporter, &result, keepWorkFiles);
            if (!ok)
                error = reporter.failure_message();
        } catch (const FatalNumericalError& e) {
            error = std::string("fatal numerical error: ") + e.what();
        } catch (const std::exception& e) {
            // A malformed number in an image parameter file (the XML reader).
            error = std::string("the run ended with an error: ") + e.what();
        }
        std::fflush(stdout);
    }
    reporter.rethrow_callback_error();
    if (!ok)
        return py::make_tuple(error, py::none());
    return py::make_tuple(py::none(), result_record(result));
}

} // namespace

PYBIND11_MODULE(_core, m) {
    m.doc() = "Binding of the fine co-registration run driver (use the finecoreg package).";
    set_fatal_handler(throw_fatal);
    m.def("check", &check, py::arg("window_width"), py::arg("window_height"),
          py::arg("range_samples"), py::arg("azimuth_samples"), py::arg("snr_threshold"),
          py::arg("threads") = 1);
    m.def("run", &run, py::arg("master"), py::arg("slave"), py::arg("offset_par"),
          py::arg("window_width"), py::arg("window_height"), py::arg("range_samples"),
          py::arg("azimuth_samples"), py::arg("snr_threshold"), py::arg("overwrite"),
          py::arg("progress"), py::arg("log"), py::arg("keep_work_files"), py::arg("threads") = 1);
}
