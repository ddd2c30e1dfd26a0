// What both extension modules share: paths, the progress adapter and the
// translation of the library's errors, defined once: FileError and every
// other std::runtime_error to finecoreg.Error (with .file and .problem),
// std::invalid_argument to ValueError.
#include "binding.h"
#include "numeric/fatal.h"
#include "params/file_error.h"

#include <stdexcept>

namespace {

// The class finecoreg.Error, defined in Python (finecoreg/error.py) so that
// there is one; kept for the module's lifetime.
py::handle error_type;

// A fatal numerical error of the library, thrown instead of ending the
// interpreter.
struct FatalNumericalError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void throw_fatal(const char* message) {
    throw FatalNumericalError(std::string("fatal numerical error: ") + message);
}

void raise_error(const std::string& problem, const std::string& file) {
    try {
        py::object error =
            error_type(problem, file.empty() ? py::object(py::none()) : py::object(fs_str(file)));
        PyErr_SetObject(error_type.ptr(), error.ptr());
    } catch (py::error_already_set& e) {
        e.restore();
    }
}

void translate(std::exception_ptr p) {
    try {
        if (p)
            std::rethrow_exception(p);
    } catch (const py::builtin_exception&) {
        throw; // pybind11's own (TypeError, ValueError ...): its translator
    } catch (const FileError& e) {
        raise_error(e.problem(), e.file());
    } catch (const std::invalid_argument& e) {
        PyErr_SetString(PyExc_ValueError, e.what());
    } catch (const std::runtime_error& e) {
        raise_error(e.what(), "");
    }
}

} // namespace

std::string fs_path(const py::handle& value, const char* name) {
    PyObject* encoded = nullptr;
    if (PyUnicode_FSConverter(value.ptr(), &encoded) == 0) {
        if (!PyErr_ExceptionMatches(PyExc_TypeError))
            throw py::error_already_set();
        PyErr_Clear();
        throw py::type_error(std::string(name) +
                             " must be a path (str, bytes or os.PathLike), not " +
                             std::string(py::str(py::type::handle_of(value).attr("__name__"))));
    }
    const auto bytes = py::reinterpret_steal<py::bytes>(encoded);
    return std::string(bytes);
}

py::str fs_str(const std::string& path) {
    PyObject* text =
        PyUnicode_DecodeFSDefaultAndSize(path.data(), static_cast<Py_ssize_t>(path.size()));
    if (text == nullptr)
        throw py::error_already_set();
    return py::reinterpret_steal<py::str>(text);
}

bool PythonProgress::poll(double percent) {
    if (failed_)
        return false;
    py::gil_scoped_acquire gil;
    try {
        if (PyErr_CheckSignals() != 0)
            throw py::error_already_set();
        if (!callable_.is_none())
            callable_(percent);
    } catch (py::error_already_set& e) {
        error_ = std::make_unique<py::error_already_set>(std::move(e));
        failed_ = true;
        return false;
    }
    return true;
}

void PythonProgress::raise() {
    if (!error_)
        throw std::logic_error("a call was stopped without an exception to raise");
    py::error_already_set error = std::move(*error_);
    error_.reset();
    throw error;
}

void prepare_module(py::module_& m) {
    error_type = py::object(py::module_::import("finecoreg.error").attr("Error")).release();
    m.attr("Error") = error_type;
    set_fatal_handler(throw_fatal);
    py::register_exception_translator(translate);
}
