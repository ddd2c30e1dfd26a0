"""The dense offset field back from its GeoTIFF, so a field can be looked at without tracking it again."""

import contextlib

import numpy as np

from .error import Error

_GRID = ("FIRST_RANGE", "FIRST_AZIMUTH", "STEP_RANGE", "STEP_AZIMUTH")
_BANDS = ("range_offset", "azimuth_offset", "range_sigma", "azimuth_sigma", "snr", "peak", "mask")


@contextlib.contextmanager
def _quiet_gdal(gdal):
    """GDAL's complaints come back in the Error, not on standard error."""
    gdal.PushErrorHandler("CPLQuietErrorHandler")
    try:
        yield
    finally:
        gdal.PopErrorHandler()


def read_offsets_geotiff(path):
    """The fields DenseOffsets takes: its seven bands by name (mask as uint8) and "grid" from the metadata.

    Raises
    ------
    Error
        The file cannot be read, lacks a band or a grid item; the message names the file.
    """
    try:
        from osgeo import gdal
    except ImportError as error:
        raise Error(f"{path}: reading a dense offset field needs GDAL's Python bindings ({error}); "
                    "Debian: python3-gdal") from None
    with _quiet_gdal(gdal):
        dataset = gdal.Open(path)
        if dataset is None:
            raise Error(f"{path}: cannot be read as a raster: {gdal.GetLastErrorMsg() or 'GDAL gave no reason'}")
        bands = {dataset.GetRasterBand(k).GetDescription(): k for k in range(1, dataset.RasterCount + 1)}
        missing = [name for name in _BANDS if name not in bands]
        if missing:
            raise Error(f"{path}: not a dense offset field: no band {', '.join(missing)}")
        fields = {name: dataset.GetRasterBand(bands[name]).ReadAsArray().astype(np.float32) for name in _BANDS}
        metadata = dataset.GetMetadata()
    try:
        fields["grid"] = tuple(float(metadata[key]) for key in _GRID)
    except (KeyError, ValueError):
        raise Error(f"{path}: not a dense offset field: it lacks a number in {', '.join(_GRID)}") from None
    fields["mask"] = fields["mask"].astype(np.uint8)
    return fields
