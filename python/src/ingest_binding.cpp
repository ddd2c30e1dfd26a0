// The GDAL import: rasters in, the module's raw SLC files and a starting
// offset parameter file out.
#include "binding.h"
#include "ingest/geotiff_raster_writer.h"
#include "ingest/ingest.h"

#include <pybind11/stl.h>
#include <stdexcept>

namespace {

std::optional<ingest::Window> window_from(const std::optional<std::vector<int>>& w) {
    if (!w)
        return std::nullopt;
    if (w->size() != 4)
        throw std::invalid_argument("window must be (x, y, width, lines)");
    return ingest::Window{(*w)[0], (*w)[1], (*w)[2], (*w)[3]};
}

py::object window_object(const std::optional<ingest::Window>& w) {
    if (!w)
        return py::none();
    return py::make_tuple(w->x, w->y, w->width, w->lines);
}

} // namespace

void bind_ingest(py::module_& m) {
    using ingest::RasterSource;
    py::class_<RasterSource>(m, "RasterSource",
                             "One band of a raster GDAL reads, whole or cropped.")
        .def(py::init([](const py::object& path, int band,
                         const std::optional<std::vector<int>>& window) {
                 return RasterSource(fs_path(path, "source"), band, window_from(window));
             }),
             py::arg("path"), py::arg("band") = 1, py::arg("window") = py::none())
        .def_property_readonly("path", [](const RasterSource& s) { return fs_str(s.path); })
        .def_readonly("band", &RasterSource::band)
        .def_property_readonly("window",
                               [](const RasterSource& s) { return window_object(s.window); });

    using ingest::ImageImportResult;
    py::class_<ImageImportResult>(m, "ImageImportResult")
        .def_property_readonly("image",
                               [](const ImageImportResult& r) { return fs_str(r.image_path); })
        .def_property_readonly("xml", [](const ImageImportResult& r) { return fs_str(r.xml_path); })
        .def_readonly("sample_format", &ImageImportResult::sample_format)
        .def_readonly("columns", &ImageImportResult::columns)
        .def_readonly("rows", &ImageImportResult::rows)
        .def_readonly("notes", &ImageImportResult::notes);

    using ingest::CoarseOffsetEstimate;
    py::class_<CoarseOffsetEstimate>(m, "CoarseOffsetEstimate")
        .def_readonly("correlation", &CoarseOffsetEstimate::correlation)
        .def_readonly("peak", &CoarseOffsetEstimate::peak)
        .def_readonly("next_peak", &CoarseOffsetEstimate::next_peak);

    using ingest::PairImportRequest;
    py::class_<PairImportRequest>(m, "PairImportRequest")
        .def(py::init<>())
        .def_readwrite("master", &PairImportRequest::master)
        .def_readwrite("slave", &PairImportRequest::slave)
        .def_property(
            "out_dir", [](const PairImportRequest& r) { return fs_str(r.out_dir); },
            [](PairImportRequest& r, const py::object& v) { r.out_dir = fs_path(v, "out_dir"); })
        .def_property(
            "offset",
            [](const PairImportRequest& r) -> py::object {
                if (!r.offset)
                    return py::none();
                return py::make_tuple(r.offset->range, r.offset->azimuth);
            },
            [](PairImportRequest& r, const std::optional<std::pair<int, int>>& v) {
                r.offset.reset();
                if (v)
                    r.offset = ingest::IntegerOffset{v->first, v->second};
            },
            "(range, azimuth) in whole samples and lines, or None to estimate it.");

    using ingest::PairImportResult;
    py::class_<PairImportResult>(m, "PairImportResult")
        .def_readonly("master", &PairImportResult::master)
        .def_readonly("slave", &PairImportResult::slave)
        .def_property_readonly("offset_par",
                               [](const PairImportResult& r) { return fs_str(r.offset_par_path); })
        .def_property_readonly("offset",
                               [](const PairImportResult& r) {
                                   return py::make_tuple(r.offset.range, r.offset.azimuth);
                               })
        .def_readonly("estimate", &PairImportResult::estimate);

    m.def(
        "import_image",
        [](const RasterSource& source, const py::object& image) {
            const std::string path = fs_path(image, "image");
            PythonProgress adapter{py::none()}; // Ctrl-C
            return released(adapter, [&] { return ingest::import_image(source, path, &adapter); });
        },
        py::arg("source"), py::arg("image"),
        "Imports one band as a raw SLC image with its XML file; finecoreg.Error naming the file.");
    m.def(
        "import_pair",
        [](const PairImportRequest& request) {
            PythonProgress adapter{py::none()}; // Ctrl-C
            return released(adapter, [&] { return ingest::import_pair(request, &adapter); });
        },
        py::arg("request"), "Imports both images and writes the pair's offset parameter file.");
    m.def(
        "interferogram_file_geotiff",
        [](const InterferogramFileRequest& request, const py::object& progress) {
            return interferogram_file_with(request, ingest::geotiff_raster_writer, progress);
        },
        py::arg("request"), py::kw_only(), py::arg("progress") = py::none(),
        "Writes the multi-looked interferogram and coherence into request.out_dir as GeoTIFF.");
}
