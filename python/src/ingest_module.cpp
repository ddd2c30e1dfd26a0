// finecoreg._ingest: the thin binding of the GDAL import. Kept apart from
// _core so that co-registering raw images never loads GDAL.
#include "ingest/ingest.h"

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

namespace py = pybind11;

namespace {

std::optional<ingest::Window> window_from(const std::optional<std::vector<int>>& w) {
    if (!w)
        return std::nullopt;
    if (w->size() != 4)
        throw py::value_error("window must be (x, y, width, lines)");
    return ingest::Window{(*w)[0], (*w)[1], (*w)[2], (*w)[3]};
}

py::dict image_record(const ingest::ImageImportResult& r) {
    py::dict d;
    d["image"] = r.image_path;
    d["xml"] = r.xml_path;
    d["sample_format"] = r.sample_format;
    d["columns"] = r.columns;
    d["rows"] = r.rows;
    d["notes"] = r.notes;
    return d;
}

py::dict import_image(const std::string& source, const std::string& image, int band,
                      const std::optional<std::vector<int>>& window) {
    const ingest::RasterSource raster(source, band, window_from(window));
    ingest::ImageImportResult result;
    {
        py::gil_scoped_release release;
        result = ingest::import_image(raster, image);
    }
    return image_record(result);
}

py::dict import_pair(const std::string& master, const std::string& slave, const std::string& outDir,
                     int band, const std::optional<std::vector<int>>& masterWindow,
                     const std::optional<std::vector<int>>& slaveWindow,
                     const std::optional<std::pair<int, int>>& offset) {
    ingest::PairImportRequest request;
    request.master = ingest::RasterSource(master, band, window_from(masterWindow));
    request.slave = ingest::RasterSource(slave, band, window_from(slaveWindow));
    request.out_dir = outDir;
    if (offset)
        request.offset = ingest::IntegerOffset{offset->first, offset->second};
    ingest::PairImportResult result;
    {
        py::gil_scoped_release release;
        result = ingest::import_pair(request);
    }
    py::dict d;
    d["master"] = image_record(result.master);
    d["slave"] = image_record(result.slave);
    d["offset_par"] = result.offset_par_path;
    d["offset"] = py::make_tuple(result.offset.range, result.offset.azimuth);
    d["estimated"] = result.estimate.has_value();
    d["correlation"] = result.estimate ? py::cast(result.estimate->correlation) : py::none();
    d["peak"] = result.estimate ? py::cast(result.estimate->peak) : py::none();
    d["next_peak"] = result.estimate ? py::cast(result.estimate->next_peak) : py::none();
    return d;
}

} // namespace

PYBIND11_MODULE(_ingest, m) {
    m.doc() = "Binding of the GDAL import (use finecoreg.import_image / import_pair).";
    static py::exception<ingest::ImportError> error(m, "ImportFailure", PyExc_RuntimeError);
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p)
                std::rethrow_exception(p);
        } catch (const ingest::ImportError& e) {
            error(e.what());
        }
    });
    m.def("import_image", &import_image, py::arg("source"), py::arg("image"), py::arg("band"),
          py::arg("window"));
    m.def("import_pair", &import_pair, py::arg("master"), py::arg("slave"), py::arg("out_dir"),
          py::arg("band"), py::arg("master_window"), py::arg("slave_window"), py::arg("offset"));
}
