// The file layer as Python uses it: the strict readers, the side-car names,
// the sample decoding, the Doppler estimate, and the rules every writer
// follows (outputs checked against inputs by identity, pending outputs).
#include "binding.h"
#include "numeric/parallel_loop.h"
#include "params/file_error.h"
#include "params/file_naming.h"
#include "params/gdal_sidecar.h"
#include "params/offset_file.h"
#include "params/offset_par_file.h"
#include "params/output_check.h"
#include "params/pending_output.h"
#include "params/sample_bytes.h"
#include "params/sar_image_xml_writer.h"
#include "params/image_info.h"
#include "resampling/resample_array.h"
#include "resampling/resample_lines.h"
#include "resampling/slc_raster.h"

#include <complex>
#include <optional>
#include <pybind11/numpy.h>
#include <pybind11/stl.h>
#include <stdexcept>

namespace {

using ComplexArray = py::array_t<std::complex<float>, py::array::c_style | py::array::forcecast>;

py::array_t<double> six(const double* values) {
    py::array_t<double> out(6);
    std::copy(values, values + 6, out.mutable_data());
    return out;
}

SampleFormat format_named(const std::string& name) {
    if (name != "FCOMPLEX" && name != "SCOMPLEX")
        throw std::invalid_argument("the sample format is FCOMPLEX or SCOMPLEX, not " + name);
    return sample_format_of(name);
}

py::array_t<std::complex<float>> decode(const py::buffer& raw, const std::string& format_name) {
    const SampleFormat format = format_named(format_name);
    const py::buffer_info info = raw.request();
    const auto bytes = static_cast<std::size_t>(info.size * info.itemsize);
    const auto size = static_cast<std::size_t>(bytes_per_sample(format));
    if (bytes % size != 0)
        throw std::invalid_argument("the raw samples are not a whole number of " + format_name +
                                    " samples");
    py::array_t<std::complex<float>> out(static_cast<py::ssize_t>(bytes / size));
    const auto* in = static_cast<const unsigned char*>(info.ptr);
    std::complex<float>* data = out.mutable_data();
    {
        py::gil_scoped_release release;
        decode_samples(in, format, bytes / size, data);
    }
    return out;
}

double estimate_file_doppler(const py::object& image) {
    const std::string path = fs_path(image, "image");
    py::gil_scoped_release release;
    const auto info = read_image_info(path);
    SlcFileSource source(path, info->numberOfColumns, info->numberOfRows,
                         sample_format_of(info->imageDataType));
    return estimate_doppler_centroid(source);
}

double estimate_array_doppler(const ComplexArray& image) {
    if (image.ndim() != 2)
        throw std::invalid_argument("the image must be a 2-D array");
    py::gil_scoped_release release;
    return estimate_array_doppler_centroid(image.data(), static_cast<int>(image.shape(0)),
                                           static_cast<int>(image.shape(1)));
}

std::vector<NamedPath> named_paths(const std::vector<std::pair<py::object, std::string>>& given,
                                   const char* what) {
    std::vector<NamedPath> paths;
    for (const auto& [path, role] : given)
        paths.push_back({fs_path(path, what), role});
    return paths;
}

// A PendingOutput that Python writes itself (a picture, a record): the
// target is replaced only when the with-block ends without an exception.
struct PythonPendingOutput {
    std::unique_ptr<PendingOutput> output;
    PendingOutput& get() {
        if (!output)
            throw std::logic_error("the pending output is already committed or discarded");
        return *output;
    }
};

// The minimal image parameter file of a raster, beside image where the run
// looks for it; its path.
std::string write_image_parameters(const std::string& image, int columns, int rows,
                                   const std::string& format) {
    if (format != "FCOMPLEX" && format != "SCOMPLEX")
        throw std::invalid_argument("format must be FCOMPLEX or SCOMPLEX, not " + format);
    const std::string path = image_xml_path(image);
    PendingOutput xml(path, PendingOutput::Mode::external);
    if (!write_sar_image_xml(xml.temp_path(), make_sar_image_info(columns, rows, format)))
        throw FileError(path, "cannot write the image parameter file");
    xml.commit();
    return path;
}

void write_initial_offsets(const std::string& path, int range, int azimuth) {
    stOffsetParInfo par{};
    par.initial_range_offset = range;
    par.initial_azimuth_offset = azimuth;
    if (!write_offset_par_file(path, par))
        throw FileError(path, "cannot write the offset parameter file");
}

} // namespace

void bind_files(py::module_& m) {
    py::class_<OffsetFile>(m, "OffsetFile",
                           "The coarse offsets and fitted polynomials of an "
                           "offset parameter file.")
        .def_readonly("initial_range_offset", &OffsetFile::initial_range_offset)
        .def_readonly("initial_azimuth_offset", &OffsetFile::initial_azimuth_offset)
        .def_property_readonly("range_polynomial",
                               [](const OffsetFile& f) { return six(f.polynomials.range); })
        .def_property_readonly("azimuth_polynomial",
                               [](const OffsetFile& f) { return six(f.polynomials.azimuth); });
    m.def(
        "check_offsets_within_images",
        [](const std::vector<double>& range, const std::vector<double>& azimuth,
           std::pair<int, int> master, std::pair<int, int> slave, const std::string& source) {
            if (range.size() != 6 || azimuth.size() != 6)
                throw std::invalid_argument("each polynomial has 6 coefficients");
            OffsetPolynomials offsets;
            std::copy(range.begin(), range.end(), offsets.range);
            std::copy(azimuth.begin(), azimuth.end(), offsets.azimuth);
            check_offsets_within_images(offsets, master.second, master.first, slave.second,
                                        slave.first, source);
        },
        py::arg("range"), py::arg("azimuth"), py::arg("master_shape"), py::arg("slave_shape"),
        py::arg("source"),
        "finecoreg.Error naming source when the offsets reach beyond the images (shapes are "
        "(lines, samples)).");
    m.def(
        "thread_count_problem",
        [](long long threads) -> std::optional<std::string> {
            const char* problem = thread_count_problem(threads);
            return problem ? std::optional<std::string>(problem) : std::nullopt;
        },
        py::arg("threads"));
    m.def(
        "read_offset_file",
        [](const py::object& path) { return read_offset_file(fs_path(path, "path")); },
        py::arg("path"),
        "The offset file read strictly: every keyword there, each polynomial six finite "
        "coefficients; finecoreg.Error naming the file and the keyword otherwise.");

    m.def(
        "write_image_parameters",
        [](const py::object& image, int columns, int rows, const std::string& format) {
            return fs_str(write_image_parameters(fs_path(image, "image"), columns, rows, format));
        },
        py::arg("image"), py::arg("columns"), py::arg("rows"), py::arg("format"),
        "Writes the minimal XML image parameter file of a raw image (FCOMPLEX or SCOMPLEX) "
        "beside it; its path.");
    m.def(
        "write_initial_offsets",
        [](const py::object& path, int range, int azimuth) {
            write_initial_offsets(fs_path(path, "path"), range, azimuth);
        },
        py::arg("path"), py::arg("range"), py::arg("azimuth"),
        "Writes an offset parameter file holding only the coarse offset.");

    py::class_<stSarImageInfo>(m, "ImageParameters",
                               "The fields of an image parameter file the package uses.")
        .def_readonly("columns", &stSarImageInfo::numberOfColumns)
        .def_readonly("rows", &stSarImageInfo::numberOfRows)
        .def_readonly("image_data_type", &stSarImageInfo::imageDataType)
        .def_readonly("pulse_repetition_frequency", &stSarImageInfo::pulseRepetitionFrequency)
        .def_readonly("raw_data_start_time", &stSarImageInfo::rawDataStartTime)
        .def_property_readonly("doppler_centroid_coefficients", [](const stSarImageInfo& i) {
            const double* c = i.dopplerCentroidCoefficients;
            return py::make_tuple(c[0], c[1], c[2], c[3]);
        });
    m.def(
        "read_image_parameters",
        [](const py::object& image) { return read_image_info(fs_path(image, "image")); },
        py::arg("image"),
        "The image parameter file beside an image (sidecar_path(image, '.xml')); "
        "finecoreg.Error naming it when missing, malformed or describing no raster.");
    m.def(
        "sidecar_path",
        [](const py::object& path, const std::string& suffix) {
            return fs_str(sidecar_path(fs_path(path, "path"), suffix));
        },
        py::arg("path"), py::arg("suffix"));
    m.def(
        "image_xml_path",
        [](const py::object& image) { return fs_str(image_xml_path(fs_path(image, "image"))); },
        py::arg("image"),
        "The image parameter file the co-registration run reads beside an image.");
    m.def(
        "mask_path",
        [](const py::object& path) { return fs_str(mask_path(fs_path(path, "path"))); },
        py::arg("path"));
    m.def(
        "vrt_path",
        [](const py::object& path) { return fs_str(gdal_vrt_path(fs_path(path, "path"))); },
        py::arg("path"), "The GDAL VRT written beside a raw raster.");
    m.def("decode_samples", &decode, py::arg("raw"), py::arg("format"),
          "Raw little-endian samples (FCOMPLEX, or SCOMPLEX counts times 0.001) as complex64.");
    m.def("estimate_file_doppler", &estimate_file_doppler, py::arg("image"),
          "Doppler centroid (cycles per line) of a raw SLC file from its samples.");
    m.def("estimate_array_doppler", &estimate_array_doppler, py::arg("image"),
          "Doppler centroid (cycles per line) of a 2-D complex array.");

    m.def(
        "check_outputs_are_not_inputs",
        [](const std::vector<std::pair<py::object, std::string>>& outputs,
           const std::vector<std::pair<py::object, std::string>>& inputs) {
            check_outputs_are_not_inputs(named_paths(outputs, "output"),
                                         named_paths(inputs, "input"));
        },
        py::arg("outputs"), py::arg("inputs"),
        "finecoreg.Error naming the output when any (path, role) output is the same file as an "
        "input or another output (by device and inode, or resolved parent and name).");
    m.def(
        "pending_temporary_name",
        [](const py::object& target) {
            return fs_str(pending_temporary_name(fs_path(target, "target")));
        },
        py::arg("target"));

    py::class_<PythonPendingOutput>(
        m, "PendingOutput",
        "A file written under '<target>.tmp.<pid>' and renamed over its target when the "
        "with-block ends without an exception; removed otherwise.")
        .def(py::init([](const py::object& target) {
                 return PythonPendingOutput{std::make_unique<PendingOutput>(
                     fs_path(target, "target"), PendingOutput::Mode::external)};
             }),
             py::arg("target"))
        .def_property_readonly("temp_path",
                               [](PythonPendingOutput& p) { return fs_str(p.get().temp_path()); })
        .def("commit",
             [](PythonPendingOutput& p) {
                 p.get().commit();
                 p.output.reset();
             })
        .def("discard", [](PythonPendingOutput& p) { p.output.reset(); })
        .def("__enter__", [](PythonPendingOutput& p) { return fs_str(p.get().temp_path()); })
        .def("__exit__", [](PythonPendingOutput& p, const py::object& type, const py::object&,
                            const py::object&) {
            if (type.is_none() && p.output)
                p.get().commit();
            p.output.reset();
            return false;
        });
}
