"""Import of complex rasters GDAL reads (GeoTIFF, ENVI, Sentinel-1 SAFE
measurements, ISCE VRT, ...) as the module's raw SLC files with their XML
image parameter files, and a starting offset parameter file for a pair."""

import numbers
import os

from .error import Error
from .gdal_support import gdal_binding


def _window(window):
    if window is None:
        return None
    if (not isinstance(window, (tuple, list)) or len(window) != 4
            or not all(isinstance(v, numbers.Integral) for v in window)):
        raise TypeError(f"window must be (x, y, width, lines) in integers, not {window!r}")
    return [int(v) for v in window]


def _band(band):
    if not isinstance(band, numbers.Integral) or isinstance(band, bool):
        raise TypeError(f"band must be an integer, not {band!r}")
    if band < 1:
        raise ValueError(f"band counts from 1, not {band}")
    return int(band)


def _call(function, source, *args):
    try:
        return function(*args)
    except MemoryError:  # std::bad_alloc from the binding: as any other failure, by file
        raise Error("not enough memory to import this raster", source) from None


def _image_record(imported):
    return {name: getattr(imported, name) for name in ("image", "xml", "sample_format", "columns", "rows", "notes")}


def import_image(source, image, band=1, window=None):
    """Import one band of a complex raster as a raw SLC image.

    CInt16 becomes SCOMPLEX, CFloat32 FCOMPLEX; CInt32 and CFloat64 are
    converted to FCOMPLEX (a note says so). The XML image parameter file goes
    beside `image`; radar parameters come from the raster's metadata where it
    has them, neutral values otherwise (the notes name them).

    Parameters
    ----------
    source : path
        Any raster GDAL opens.
    image : path
        Raw SLC file to write.
    band : int
        Band to import, from 1.
    window : (x, y, width, lines) or None
        Part of the raster to import (the whole band by default).

    Returns
    -------
    dict
        ``image``, ``xml``, ``sample_format``, ``columns``, ``rows``, ``notes``.

    Raises
    ------
    Error
        The raster cannot be imported; the message names the file. Nothing
        half-written is left behind.
    """
    binding = gdal_binding("import_image")
    source = os.fspath(source)
    raster = binding.RasterSource(source, _band(band), _window(window))
    return _image_record(_call(binding.import_image, source, raster, os.fspath(image)))


_SAME = object()


def import_pair(master, slave, out_dir, band=1, window=None, offset=None, slave_window=_SAME):
    """Import a pair into `out_dir` and write its starting offset parameter file.

    Writes ``out_dir/master.slc``, ``slave.slc`` (with their XML files) and
    ``pair.off``. The coarse offset (slave position = master position +
    offset, whole samples and lines) is `offset` when given, else estimated
    by correlating the two images' multi-looked amplitudes. `window` crops
    both images alike unless `slave_window` crops the slave differently.

    Returns
    -------
    dict
        ``master``, ``slave`` (as from `import_image`), ``offset_par``,
        ``offset`` (range, azimuth), ``estimated``, ``correlation``,
        ``peak`` and ``next_peak`` (of the multi-looked correlation surface).

    Raises
    ------
    Error
        As `import_image`; also when the estimated correlation peak does not
        stand clearly above the next peak (unrelated or non-overlapping
        images): give `offset` then.
    """
    if offset is not None:
        if (not isinstance(offset, (tuple, list)) or len(offset) != 2
                or not all(isinstance(v, numbers.Integral) for v in offset)):
            raise TypeError(f"offset must be (range, azimuth) in integers, not {offset!r}")
        offset = (int(offset[0]), int(offset[1]))
    binding = gdal_binding("import_pair")
    request = binding.PairImportRequest()
    request.master = binding.RasterSource(os.fspath(master), _band(band), _window(window))
    request.slave = binding.RasterSource(os.fspath(slave), _band(band),
                                       _window(window if slave_window is _SAME else slave_window))
    request.out_dir, request.offset = os.fspath(out_dir), offset
    pair = _call(binding.import_pair, os.fspath(master), request)
    estimate = pair.estimate
    return {"master": _image_record(pair.master), "slave": _image_record(pair.slave),
            "offset_par": pair.offset_par, "offset": pair.offset, "estimated": estimate is not None,
            "correlation": None if estimate is None else estimate.correlation,
            "peak": None if estimate is None else estimate.peak,
            "next_peak": None if estimate is None else estimate.next_peak}
