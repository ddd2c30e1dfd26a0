// finecoreg._core: the binding of the library (use the finecoreg package),
// without GDAL. Requests and results are classes; every long call releases
// the GIL and runs under a progress adapter that Ctrl-C and the user's
// callable can stop. The GDAL import is finecoreg._gdal, loaded only when
// used.
#include "binding.h"

PYBIND11_MODULE(_core, m) {
    m.doc() = "The binding of the fine co-registration library (use the finecoreg package).";
    prepare_module(m);
    bind_files(m);
    bind_run(m);
    bind_resample(m);
}
