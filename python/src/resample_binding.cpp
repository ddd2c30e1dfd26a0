// The resampler and the interferogram: files through request and result
// classes, arrays in and out.
#include "binding.h"
#include "resampling/interferogram.h"
#include "resampling/interferogram_file.h"
#include "resampling/resample_array.h"
#include "resampling/resample_file.h"

#include <optional>
#include <pybind11/numpy.h>
#include <pybind11/stl.h>
#include <stdexcept>
#include <tuple>

namespace {

using ComplexArray = py::array_t<std::complex<float>, py::array::c_style | py::array::forcecast>;

py::object doppler_object(const DopplerChoice& choice) {
    switch (choice.mode) {
    case DopplerChoice::Mode::off:
        return py::str("off");
    case DopplerChoice::Mode::given:
        return py::float_(choice.value);
    default:
        return py::none();
    }
}

DopplerChoice doppler_choice(const py::object& doppler) {
    DopplerChoice choice;
    if (doppler.is_none())
        return choice;
    if (py::isinstance<py::str>(doppler)) {
        if (doppler.cast<std::string>() != "off")
            throw std::invalid_argument("doppler must be None, a number or \"off\"");
        choice.mode = DopplerChoice::Mode::off;
        return choice;
    }
    choice.mode = DopplerChoice::Mode::given;
    choice.value = doppler.cast<double>();
    return choice;
}

template <class T, class Field> void path_field(py::class_<T>& c, const char* name, Field field) {
    c.def_property(
        name, [field](const T& r) { return fs_str(r.*field); },
        [field, name](T& r, const py::object& v) { r.*field = fs_path(v, name); });
}

template <class T, class Field>
void readonly_path(py::class_<T>& c, const char* name, Field field) {
    c.def_property_readonly(name, [field](const T& r) { return fs_str(r.*field); });
}

void polynomial_into(const std::vector<double>& poly, double out[6], const char* name) {
    if (poly.size() != 6)
        throw std::invalid_argument(std::string(name) + " must hold 6 coefficients");
    std::copy(poly.begin(), poly.end(), out);
}

// The slave XML's centroid as (file, coefficients, prf), or None.
std::optional<XmlDoppler> xml_doppler(const py::object& xml) {
    if (xml.is_none())
        return std::nullopt;
    const auto [file, coefficients, prf] =
        xml.cast<std::tuple<std::string, std::vector<double>, double>>();
    XmlDoppler doppler;
    doppler.file = file;
    std::copy_n(coefficients.begin(), std::min<std::size_t>(4, coefficients.size()),
                doppler.coefficients);
    doppler.prf = prf;
    return doppler;
}

py::tuple resample_array_py(const ComplexArray& slave, const std::vector<double>& range,
                            const std::vector<double>& azimuth, std::pair<int, int> shape,
                            const py::object& doppler, const py::object& xml, int threads,
                            const py::object& progress) {
    if (slave.ndim() != 2)
        throw std::invalid_argument("slave must be a 2-D array");
    if (shape.first < 1 || shape.second < 1)
        throw std::invalid_argument("out_shape must be positive");
    OffsetPolynomials offsets;
    polynomial_into(range, offsets.range, "range_poly");
    polynomial_into(azimuth, offsets.azimuth, "azimuth_poly");
    ComplexArray out({shape.first, shape.second});
    py::array_t<bool> mask({shape.first, shape.second});
    const int lines = static_cast<int>(slave.shape(0)), width = static_cast<int>(slave.shape(1));
    const std::optional<XmlDoppler> xml_centroid = xml_doppler(xml);
    const ChosenDoppler chosen =
        choose_array_doppler(slave.data(), lines, width, doppler_choice(doppler),
                             xml_centroid ? &*xml_centroid : nullptr);
    PythonProgress adapter(progress);
    auto* out_data = out.mutable_data();
    auto* mask_data = reinterpret_cast<unsigned char*>(mask.mutable_data());
    released(adapter, [&] {
        return resample_array(slave.data(), lines, width, offsets, shape.first, shape.second,
                              chosen.model, out_data, mask_data, threads, &adapter);
    });
    return py::make_tuple(out, mask, chosen.description(), chosen.warnings);
}

py::tuple interferogram_array_py(const ComplexArray& master, const ComplexArray& slave,
                                 int looks_az, int looks_rg) {
    if (master.ndim() != 2 || slave.ndim() != 2 || master.shape(0) != slave.shape(0) ||
        master.shape(1) != slave.shape(1))
        throw std::invalid_argument("master and slave must be 2-D arrays of equal shape");
    const int lines = static_cast<int>(master.shape(0)), width = static_cast<int>(master.shape(1));
    if (looks_az < 1 || looks_rg < 1 || lines / looks_az < 1 || width / looks_rg < 1)
        throw std::invalid_argument("looks of " + std::to_string(looks_az) + " x " +
                                    std::to_string(looks_rg) + " leave no cell of the " +
                                    std::to_string(width) + " x " + std::to_string(lines) +
                                    " samples");
    ComplexArray ifg({lines / looks_az, width / looks_rg});
    py::array_t<float> coherence({lines / looks_az, width / looks_rg});
    auto* ifg_data = ifg.mutable_data();
    auto* coherence_data = coherence.mutable_data();
    {
        py::gil_scoped_release release;
        interferogram_arrays(master.data(), slave.data(), lines, width, looks_az, looks_rg,
                             ifg_data, coherence_data);
    }
    return py::make_tuple(ifg, coherence);
}

} // namespace

void bind_resample(py::module_& m) {
    py::class_<ResampleFileRequest> request(m, "ResampleFileRequest",
                                            "The slave to resample onto the master's grid.");
    request.def(py::init<>());
    path_field(request, "master", &ResampleFileRequest::master);
    path_field(request, "slave", &ResampleFileRequest::slave);
    path_field(request, "fitted_off", &ResampleFileRequest::fitted_off);
    path_field(request, "out_slc", &ResampleFileRequest::out_slc);
    request
        .def_property(
            "doppler", [](const ResampleFileRequest& r) { return doppler_object(r.doppler); },
            [](ResampleFileRequest& r, const py::object& v) { r.doppler = doppler_choice(v); },
            "None (from the slave's XML, else estimated), 'off' or cycles per line.")
        .def_readwrite("threads", &ResampleFileRequest::threads);

    py::class_<ResampleFileResult> result(m, "ResampleFileResult");
    result.def_readonly("lines", &ResampleFileResult::lines)
        .def_readonly("samples", &ResampleFileResult::samples)
        .def_readonly("format", &ResampleFileResult::format)
        .def_readonly("doppler_centroid", &ResampleFileResult::doppler_centroid)
        .def_readonly("doppler_source", &ResampleFileResult::doppler_source)
        .def_readonly("doppler_lowest", &ResampleFileResult::doppler_lowest)
        .def_readonly("doppler_highest", &ResampleFileResult::doppler_highest)
        .def_readonly("doppler_description", &ResampleFileResult::doppler_description)
        .def_readonly("masked", &ResampleFileResult::masked)
        .def_readonly("no_data", &ResampleFileResult::no_data)
        .def_readonly("saturated", &ResampleFileResult::saturated)
        .def_readonly("warnings", &ResampleFileResult::warnings);
    readonly_path(result, "output", &ResampleFileResult::output);
    readonly_path(result, "xml", &ResampleFileResult::xml);
    readonly_path(result, "mask", &ResampleFileResult::mask);

    m.def(
        "resample_file",
        [](const ResampleFileRequest& request, const py::object& progress) {
            PythonProgress adapter(progress);
            return released(adapter, [&] { return resample_file(request, &adapter); });
        },
        py::arg("request"), py::kw_only(), py::arg("progress") = py::none(),
        "Resamples the slave into request.out_slc (its XML and mask beside it); "
        "finecoreg.Error naming the file on failure, nothing left behind.");
    m.def("resample_array", &resample_array_py, py::arg("slave"), py::arg("range_poly"),
          py::arg("azimuth_poly"), py::arg("out_shape"), py::arg("doppler") = py::none(),
          py::arg("xml") = py::none(), py::arg("threads") = 1, py::arg("progress") = py::none(),
          "(resampled complex64 array, mask, the centroid used, warnings) on a grid of "
          "out_shape; doppler None (chosen from xml = (file, coefficients, prf) or None and "
          "the data), 'off' or cycles per line.");

    py::class_<InterferogramFileRequest> ifg_request(m, "InterferogramFileRequest");
    ifg_request.def(py::init<>());
    path_field(ifg_request, "master", &InterferogramFileRequest::master);
    path_field(ifg_request, "resampled", &InterferogramFileRequest::resampled);
    path_field(ifg_request, "out_dir", &InterferogramFileRequest::out_dir);
    ifg_request.def_readwrite("looks_az", &InterferogramFileRequest::looks_az)
        .def_readwrite("looks_rg", &InterferogramFileRequest::looks_rg);

    py::class_<InterferogramFileResult> ifg_result(m, "InterferogramFileResult");
    ifg_result.def_readonly("lines", &InterferogramFileResult::lines)
        .def_readonly("samples", &InterferogramFileResult::samples)
        .def_property_readonly(
            "looks",
            [](const InterferogramFileResult& r) { return py::make_tuple(r.looks_az, r.looks_rg); })
        .def_readonly("mean_coherence", &InterferogramFileResult::mean_coherence)
        .def_readonly("median_coherence", &InterferogramFileResult::median_coherence)
        .def_readonly("histogram", &InterferogramFileResult::histogram)
        .def_readonly("no_data", &InterferogramFileResult::no_data);
    readonly_path(ifg_result, "interferogram", &InterferogramFileResult::interferogram);
    readonly_path(ifg_result, "coherence", &InterferogramFileResult::coherence);

    m.def(
        "interferogram_file",
        [](const InterferogramFileRequest& request, const py::object& progress) {
            return interferogram_file_with(request, raw_raster_writer, progress);
        },
        py::arg("request"), py::kw_only(), py::arg("progress") = py::none(),
        "Writes the multi-looked interferogram and coherence into request.out_dir "
        "(raw rasters with XML files; GeoTIFF through finecoreg._gdal).");
    m.def("interferogram_array", &interferogram_array_py, py::arg("master"), py::arg("slave"),
          py::arg("looks_az"), py::arg("looks_rg"),
          "(interferogram complex64, coherence float32), multi-looked.");
}
