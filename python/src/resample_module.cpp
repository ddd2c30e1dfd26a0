// finecoreg._resample: the thin binding of the resampling library (use
// finecoreg.resample / finecoreg.interferogram). The GIL is released while
// the library works; its one-line failures arrive as RuntimeError.
#include "ingest/geotiff_raster_writer.h"
#include "numeric/parallel_loop.h"
#include "resampling/interferogram.h"
#include "resampling/interferogram_file.h"
#include "resampling/resample_array.h"
#include "resampling/resample_file.h"

#include <optional>
#include <pybind11/functional.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

namespace py = pybind11;

namespace {

using ComplexArray = py::array_t<std::complex<float>, py::array::c_style | py::array::forcecast>;

// Calls the Python progress callable with the GIL held.
class CallbackProgress : public Progress {
public:
    explicit CallbackProgress(py::object callback) : callback_(std::move(callback)) {}
    void progress(double percent) override {
        py::gil_scoped_acquire acquire;
        callback_(percent);
    }

private:
    py::object callback_;
};

DopplerChoice doppler_choice(const py::object& doppler) {
    DopplerChoice choice;
    if (doppler.is_none())
        return choice;
    if (py::isinstance<py::str>(doppler)) {
        if (doppler.cast<std::string>() != "off")
            throw py::value_error("doppler must be None, a number or \"off\"");
        choice.mode = DopplerChoice::Mode::off;
        return choice;
    }
    choice.mode = DopplerChoice::Mode::given;
    choice.value = doppler.cast<double>();
    return choice;
}

py::dict resample_file_py(const std::string& master, const std::string& slave,
                          const std::string& fitted_off, const std::string& out_slc,
                          const py::object& doppler, const py::object& progress, int threads) {
    ResampleFileRequest request{master, slave, fitted_off, out_slc, doppler_choice(doppler),
                                threads};
    std::unique_ptr<CallbackProgress> sink;
    if (!progress.is_none())
        sink = std::make_unique<CallbackProgress>(progress);
    ResampleFileResult r;
    {
        py::gil_scoped_release release;
        r = resample_file(request, sink.get());
    }
    py::dict d;
    d["lines"] = r.lines;
    d["samples"] = r.samples;
    d["format"] = r.format;
    d["doppler_centroid"] = r.doppler_centroid;
    d["doppler_source"] = r.doppler_source;
    d["masked"] = r.masked;
    d["saturated"] = r.saturated;
    d["output"] = r.output;
    d["xml"] = r.xml;
    d["mask"] = r.mask;
    return d;
}

void polynomial_into(const std::vector<double>& poly, double out[6], const char* name) {
    if (poly.size() != 6)
        throw py::value_error(std::string(name) + " must hold 6 coefficients");
    std::copy(poly.begin(), poly.end(), out);
}

py::tuple resample_array_py(const ComplexArray& slave, const std::vector<double>& range,
                            const std::vector<double>& azimuth, std::pair<int, int> shape,
                            double doppler, int threads) {
    if (slave.ndim() != 2)
        throw py::value_error("slave must be a 2-D array");
    if (shape.first < 1 || shape.second < 1)
        throw py::value_error("out_shape must be positive");
    OffsetPolynomials offsets;
    polynomial_into(range, offsets.range, "range_poly");
    polynomial_into(azimuth, offsets.azimuth, "azimuth_poly");
    ComplexArray out({shape.first, shape.second});
    py::array_t<bool> mask({shape.first, shape.second});
    const int lines = static_cast<int>(slave.shape(0)), width = static_cast<int>(slave.shape(1));
    {
        py::gil_scoped_release release;
        resample_array(slave.data(), lines, width, offsets, shape.first, shape.second, doppler,
                       out.mutable_data(), reinterpret_cast<unsigned char*>(mask.mutable_data()),
                       threads);
    }
    return py::make_tuple(out, mask);
}

py::dict interferogram_file_py(const std::string& master, const std::string& resampled,
                               int looks_az, int looks_rg, const std::string& out_dir, bool geotiff,
                               const py::object& progress) {
    InterferogramFileRequest request{master, resampled, looks_az, looks_rg, out_dir};
    std::unique_ptr<CallbackProgress> sink;
    if (!progress.is_none())
        sink = std::make_unique<CallbackProgress>(progress);
    InterferogramFileResult r;
    {
        py::gil_scoped_release release;
        r = interferogram_file(request,
                               geotiff ? RasterWriterFactory(ingest::geotiff_raster_writer)
                                       : RasterWriterFactory(raw_raster_writer),
                               sink.get());
    }
    py::dict d;
    d["lines"] = r.lines;
    d["samples"] = r.samples;
    d["looks"] = py::make_tuple(r.looks_az, r.looks_rg);
    d["mean_coherence"] = r.mean_coherence;
    d["median_coherence"] = r.median_coherence;
    d["histogram"] = r.histogram;
    d["interferogram"] = r.interferogram;
    d["coherence"] = r.coherence;
    return d;
}

py::tuple interferogram_array_py(const ComplexArray& master, const ComplexArray& slave,
                                 int looks_az, int looks_rg) {
    if (master.ndim() != 2 || slave.ndim() != 2 || master.shape(0) != slave.shape(0) ||
        master.shape(1) != slave.shape(1))
        throw py::value_error("master and slave must be 2-D arrays of equal shape");
    if (looks_az < 1 || looks_rg < 1)
        throw py::value_error("looks must be at least 1");
    const int lines = static_cast<int>(master.shape(0)), width = static_cast<int>(master.shape(1));
    ComplexArray ifg({lines / looks_az, width / looks_rg});
    py::array_t<float> coherence({lines / looks_az, width / looks_rg});
    {
        py::gil_scoped_release release;
        interferogram_arrays(master.data(), slave.data(), lines, width, looks_az, looks_rg,
                             ifg.mutable_data(), coherence.mutable_data());
    }
    return py::make_tuple(ifg, coherence);
}

} // namespace

PYBIND11_MODULE(_resample, m) {
    m.doc() = "Binding of the resampling library (use finecoreg.resample / interferogram).";
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p)
                std::rethrow_exception(p);
        } catch (const ResampleError& e) {
            PyErr_SetString(PyExc_RuntimeError, e.what());
        }
    });
    m.def("resample_file", &resample_file_py, py::arg("master"), py::arg("slave"),
          py::arg("fitted_off"), py::arg("out_slc"), py::arg("doppler") = py::none(),
          py::arg("progress") = py::none(), py::arg("threads") = 1);
    m.def("resample_array", &resample_array_py, py::arg("slave"), py::arg("range_poly"),
          py::arg("azimuth_poly"), py::arg("out_shape"), py::arg("doppler") = 0.0,
          py::arg("threads") = 1);
    m.def("interferogram_file", &interferogram_file_py, py::arg("master"), py::arg("resampled"),
          py::arg("looks_az"), py::arg("looks_rg"), py::arg("out_dir"), py::arg("geotiff") = false,
          py::arg("progress") = py::none());
    m.def(
        "thread_count_problem",
        [](long long threads) -> std::optional<std::string> {
            const char* problem = thread_count_problem(threads);
            return problem ? std::optional<std::string>(problem) : std::nullopt;
        },
        py::arg("threads"));
    m.def("interferogram_array", &interferogram_array_py, py::arg("master"), py::arg("slave"),
          py::arg("looks_az"), py::arg("looks_rg"));
}
