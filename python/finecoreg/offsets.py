"""Dense offset tracking: the offset field of a pair with a calibrated uncertainty per window."""

import math
import numbers
import os

import numpy as np

from .run import _DEFAULT, _pair_of_ints, check_threads
from .resample import _path, _progress

_RASTER_SUFFIXES = (".tif", ".tiff", ".vrt")


class DenseOffsets:
    """What dense_offsets measured, one cell per window; rows are azimuth positions.

    range_offset, azimuth_offset : float32 arrays
        slave - master position (samples, lines), gross offset included; NaN
        where the window was rejected and not filled.
    range_sigma, azimuth_sigma : float32 arrays
        1-sigma uncertainty of each offset (filled windows: inflated).
    snr, peak : float32 arrays
        correlation SNR and normalised correlation peak (NaN: not measured).
    mask : uint8 array
        0 good, 1 no data, 2 no peak, 3 low snr, 4 outlier, 5 filled.
    range_positions, azimuth_positions : float64 1-D arrays
        master sample of each column and master line of each row (window centres).
    window : (width, height) or None
        The windows measured (None: not known, as for a field read from a GeoTIFF).
    step : (range, azimuth)
        Grid step between window centres.
    snr_min : float or None
        The SNR below which windows were rejected (None: not known).
    """

    BANDS = ("range_offset", "azimuth_offset", "range_sigma", "azimuth_sigma", "snr", "peak", "mask")

    def __init__(self, fields, out, window=None, snr_min=None):
        for name in self.BANDS:
            setattr(self, name, fields[name])
        first_range, first_azimuth, step_range, step_azimuth = fields["grid"]
        rows, columns = self.mask.shape
        self.range_positions = first_range + step_range * np.arange(columns, dtype=np.float64)
        self.azimuth_positions = first_azimuth + step_azimuth * np.arange(rows, dtype=np.float64)
        self.output = out
        self.window = None if window is None else tuple(window)
        self.step = (step_range, step_azimuth)
        self.snr_min = snr_min

    @classmethod
    def load(cls, path):
        """The field of a GeoTIFF written by dense_offsets or finecoreg-offsets (read through GDAL).

        Raises
        ------
        Error
            The file cannot be read or is not such a field; the message names it.
        """
        from .offsets_geotiff import read_offsets_geotiff

        return cls(read_offsets_geotiff(_path(path, "field")), _path(path, "field"))

    def counts(self):
        """Windows per mask state, as a dict name -> count."""
        names = ("good", "no data", "no peak", "low snr", "outlier", "filled")
        counts = np.bincount(self.mask.ravel(), minlength=len(names))
        return {name: int(counts[k]) for k, name in enumerate(names)}

    def median_sigma(self):
        """(range, azimuth) median sigma of the good windows (NaN when there are none)."""
        return self.good_median(self.range_sigma), self.good_median(self.azimuth_sigma)

    def good_median(self, band):
        """The median of band over the good windows, NaN when there are none."""
        values = band[self.mask == 0]
        return float(np.median(values)) if values.size else float("nan")


def _gross(gross):
    """(kind, range, azimuth, path) for the binding."""
    if gross is None:
        return "none", 0.0, 0.0, None
    if isinstance(gross, (str, bytes, os.PathLike)):
        path = _path(gross, "gross")
        kind = "raster" if path.lower().endswith(_RASTER_SUFFIXES) else "offset_file"
        return kind, 0.0, 0.0, path
    if isinstance(gross, (tuple, list)) and len(gross) == 2 and all(
            isinstance(v, numbers.Real) and not isinstance(v, bool) and math.isfinite(v) for v in gross):
        return "constant", float(gross[0]), float(gross[1]), None
    raise TypeError("gross must be None, (range, azimuth) finite numbers, an offset parameter file or an "
                    f"offset raster, not {gross!r}")


def dense_offsets(master, slave, gross=None, window=(64, 64), step=(16, 16), threads=None, progress=_DEFAULT,
                  out=None, margin=0, coarse_pass=False, snr_min=5.0, outlier_radius=2, outlier_threshold=4.0,
                  fill=False):
    """Measure the slave's offset against the master on a grid of windows (dense offset tracking).

    The slave window of each master window is centred on master + gross
    offset; offsets, their sigmas (calibrated on simulated pairs), SNR and
    normalised correlation peak come back per window, culled by SNR and a
    median/MAD outlier test over the neighbours, optionally filled.

    Parameters
    ----------
    master, slave : path
        Raw SLC images with their XML files beside them.
    gross : None, (range, azimuth), or path
        The gross offset: zero, a constant, an offset parameter file's
        polynomials, or an offset raster (a name ending in .tif, .tiff or .vrt,
        such as a previous ``out``).
    window : (width, height)
        Powers of two from 8 to 4096, the width less than eight times the height.
    step : (range, azimuth)
        Grid step between window centres.
    threads : int or None
        Threads measuring the windows (None: the cores this process may use);
        the result is the same for any number.
    progress : callable or None
        Called with the percent done; by default a text bar on standard error
        when it is a terminal.
    out : path or None
        Also write the field as a GeoTIFF of seven bands.
    margin : int
        Master samples and lines kept clear of the edges besides half a window.
    coarse_pass : bool
        Find the gross offsets with a first pass of twice the window and four
        times the step.
    snr_min, outlier_radius, outlier_threshold : the culling (defaults 5, 2, 4).
    fill : bool
        Fill rejected windows from the good ones (mask 5, sigma inflated).

    Returns
    -------
    DenseOffsets

    Raises
    ------
    TypeError, ValueError
        Bad arguments.
    Error
        An input is missing or unreadable, no window fits or none gave an
        offset, or the output cannot be written; the message names the file.
    """
    from .gdal_support import gdal_binding

    binding = gdal_binding("dense offsets")

    kind, gross_range, gross_azimuth, gross_path = _gross(gross)
    window, step = _pair_of_ints(window, "window"), _pair_of_ints(step, "step")
    threads = check_threads(threads)
    master, slave = _path(master, "master"), _path(slave, "slave")
    out = None if out is None else _path(out, "out")
    progress, bar = _progress(progress)
    try:
        fields = binding.dense_offsets(master, slave, out, kind, gross_range, gross_azimuth, gross_path, window,
                                     step, int(margin), bool(coarse_pass), float(snr_min), int(outlier_radius),
                                     float(outlier_threshold), bool(fill), threads, progress)
    finally:
        if bar is not None:
            bar.close()
    return DenseOffsets(fields, out, window=window, snr_min=float(snr_min))
