#pragma once

// What the parts of finecoreg._core and finecoreg._gdal share: paths between Python and C++,
// and the progress adapter through which every long call can be stopped.
#include "params/stage_reporter.h"
#include "resampling/interferogram_file.h"
#include "resampling/resample_error.h"

#include <atomic>
#include <memory>
#include <pybind11/pybind11.h>
#include <string>
#include <utility>

namespace py = pybind11;

// A path given from Python (str, bytes or os.PathLike) as the byte string
// the file functions take; TypeError naming the argument otherwise.
std::string fs_path(const py::handle& value, const char* name);

// A path from C++ as Python's str (undecodable bytes as surrogates, as
// os.fsdecode gives them).
py::str fs_str(const std::string& path);

// The progress of one long call: with the GIL held it lets Python handle
// pending signals (Ctrl-C raises KeyboardInterrupt there), then calls the
// user's callable, if any. The first exception is kept to be raised again
// after the call, unchanged.
// The library asks cancelled() between blocks and rows, and stops with
// Cancelled (its pending outputs remove their temporaries).
class PythonProgress : public Progress {
public:
    explicit PythonProgress(py::object callable) : callable_(std::move(callable)) {}
    void progress(double percent) override { poll(percent); }
    bool cancelled() override { return failed_; }
    // False once an exception is kept (it is not called again after that).
    bool poll(double percent);
    bool failed() const { return failed_; }
    // Raises the kept exception in Python.
    [[noreturn]] void raise();

private:
    py::object callable_;
    std::unique_ptr<py::error_already_set> error_;
    std::atomic<bool> failed_{false};
};

// Runs work with the GIL released; a cancel coming out of it is raised in
// Python as the exception the adapter kept.
template <class Work> auto released(PythonProgress& progress, Work&& work) -> decltype(work()) {
    try {
        py::gil_scoped_release release;
        return work();
    } catch (const Cancelled&) {
    }
    progress.raise();
}

// The error translation and fatal-error handler every module installs first.
void prepare_module(py::module_& m);

// The interferogram and coherence of request, written through writers.
inline InterferogramFileResult interferogram_file_with(const InterferogramFileRequest& request,
                                                       const RasterWriterFactory& writers,
                                                       const py::object& progress) {
    PythonProgress adapter(progress);
    return released(adapter, [&] { return interferogram_file(request, writers, &adapter); });
}

void bind_files(py::module_& m);
void bind_run(py::module_& m);
void bind_resample(py::module_& m);
void bind_ingest(py::module_& m);
void bind_offsets(py::module_& m);
