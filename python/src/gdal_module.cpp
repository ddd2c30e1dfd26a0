// finecoreg._gdal: what needs GDAL, apart so that the package imports
// without it: the raster import, GeoTIFF interferogram output and the
// dense offsets (their field is a GeoTIFF).
#include "binding.h"

PYBIND11_MODULE(_gdal, m) {
    m.doc() = "The GDAL part of the fine co-registration binding (use the finecoreg package).";
    // The request classes of the interferogram are _core's.
    py::module_::import("finecoreg._core");
    prepare_module(m);
    bind_ingest(m);
    bind_offsets(m);
}
