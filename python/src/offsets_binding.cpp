// Dense offset tracking: the file pair in, the field's bands out as arrays.
#include "algorithm/dense_offsets_file.h"
#include "binding.h"
#include "ingest/offset_field_geotiff.h"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>
#include <stdexcept>

namespace {

py::array_t<float> band(const std::vector<float>& values, int rows, int columns) {
    py::array_t<float> a({rows, columns});
    std::copy(values.begin(), values.end(), a.mutable_data());
    return a;
}

GrossChoice gross_choice(const std::string& kind, double range, double azimuth,
                         const std::string& path) {
    GrossChoice g;
    g.range = range;
    g.azimuth = azimuth;
    g.path = path;
    if (kind == "constant")
        g.kind = GrossChoice::Kind::constant;
    else if (kind == "offset_file")
        g.kind = GrossChoice::Kind::offset_file;
    else if (kind == "raster")
        g.kind = GrossChoice::Kind::raster;
    else if (kind != "none")
        throw std::invalid_argument("unknown gross offset kind " + kind);
    return g;
}

py::dict dense_offsets_py(const py::object& master, const py::object& slave, const py::object& out,
                          const std::string& grossKind, double grossRange, double grossAzimuth,
                          const py::object& grossPath, std::pair<int, int> window,
                          std::pair<int, int> step, int margin, bool coarsePass, double snrMin,
                          int outlierRadius, double outlierThreshold, bool fill, int threads,
                          py::object progress) {
    DenseOffsetsFileRequest r;
    r.master = fs_path(master, "master");
    r.slave = fs_path(slave, "slave");
    r.out = out.is_none() ? std::string() : fs_path(out, "out");
    r.gross = gross_choice(grossKind, grossRange, grossAzimuth,
                           grossPath.is_none() ? std::string() : fs_path(grossPath, "gross"));
    TrackingRequest& t = r.tracking;
    t.windows = {window.first, window.second, step.first, step.second, margin};
    t.coarsePass = coarsePass;
    t.cull = {snrMin, outlierRadius, outlierThreshold};
    t.fill = fill;
    t.threads = threads;
    PythonProgress adapter(progress);
    const DenseOffsets d = released(adapter, [&] { return dense_offsets_file(r, &adapter); });
    const OffsetField& g = d.offsets;
    py::dict result;
    result["range_offset"] = band(g.range, g.rows, g.columns);
    result["azimuth_offset"] = band(g.azimuth, g.rows, g.columns);
    result["range_sigma"] = band(d.rangeSigma, g.rows, g.columns);
    result["azimuth_sigma"] = band(d.azimuthSigma, g.rows, g.columns);
    result["snr"] = band(d.snr, g.rows, g.columns);
    result["peak"] = band(d.peak, g.rows, g.columns);
    py::array_t<std::uint8_t> mask({g.rows, g.columns});
    std::copy(d.mask.begin(), d.mask.end(), mask.mutable_data());
    result["mask"] = mask;
    result["grid"] = py::make_tuple(g.firstRange, g.firstAzimuth, g.stepRange, g.stepAzimuth);
    return result;
}

// A field GeoTIFF as the resampler takes it from Python: (range, azimuth,
// first_range, first_azimuth, step_range, step_azimuth).
py::tuple read_offset_field_py(const py::object& path) {
    const std::string file = fs_path(path, "field");
    OffsetField f;
    {
        py::gil_scoped_release release;
        f = ingest::read_offset_field_geotiff(file);
    }
    return py::make_tuple(band(f.range, f.rows, f.columns), band(f.azimuth, f.rows, f.columns),
                          f.firstRange, f.firstAzimuth, f.stepRange, f.stepAzimuth);
}

} // namespace

void bind_offsets(py::module_& m) {
    m.def("read_offset_field", &read_offset_field_py, py::arg("path"),
          "(range, azimuth, first_range, first_azimuth, step_range, step_azimuth) of a field "
          "GeoTIFF, for the resampler.");
    m.def("dense_offsets", &dense_offsets_py, py::arg("master"), py::arg("slave"), py::arg("out"),
          py::arg("gross_kind"), py::arg("gross_range"), py::arg("gross_azimuth"),
          py::arg("gross_path"), py::arg("window"), py::arg("step"), py::arg("margin"),
          py::arg("coarse_pass"), py::arg("snr_min"), py::arg("outlier_radius"),
          py::arg("outlier_threshold"), py::arg("fill"), py::arg("threads"), py::arg("progress"));
}
