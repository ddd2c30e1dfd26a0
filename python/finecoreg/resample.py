"""The slave resampled onto the master grid through the fitted polynomials, and the interferogram's coherence.

Files in, files out, through the binding `_core` (blocks of lines,
temporary files renamed, every output checked against every input first);
or numpy arrays in and out. Images given as paths are read through their XML
files (`slc_image`). Ctrl-C or an exception from the progress callable stops
a call within a block of lines and leaves no file behind.
"""

import math
import numbers
import os
import sys
import warnings

import numpy as np

from .error import Error
from .gdal_support import gdal_binding
from .offset_file import read_offset_file
from .result import Result
from .run import _DEFAULT, TerminalBar, _pair_of_ints, check_threads
from .slc_image import doppler_coefficients, image_info, read_lines, xml_path

_PATH_TYPES = (str, bytes, os.PathLike)
_BLOCK_LINES = 256  # lines per block where Python itself walks an image


def _path(value, name):
    if not isinstance(value, _PATH_TYPES):
        raise TypeError(f"{name} must be a path (str, bytes or os.PathLike), not {type(value).__name__}")
    return os.path.abspath(os.fsdecode(value))


def _image(value, name):
    """A path (made absolute) or a 2-D array, checked without opening anything."""
    if isinstance(value, np.ndarray):
        if value.ndim != 2 or value.size == 0:
            raise ValueError(f"{name} must be a non-empty 2-D array (lines, samples), not of shape {value.shape}")
        return value
    return _path(value, name)


def _looks(looks):
    looks = _pair_of_ints(looks, "looks")
    if min(looks) < 1:
        raise ValueError(f"looks must be positive, not {looks}")
    return looks


def _doppler(doppler):
    if doppler is None or (isinstance(doppler, str) and doppler == "off"):
        return doppler
    if not isinstance(doppler, numbers.Real) or isinstance(doppler, bool):
        raise TypeError(f"doppler must be None, 'off' or a number (cycles per line), not {doppler!r}")
    if not math.isfinite(doppler):
        raise ValueError(f"doppler must be finite, not {doppler}")
    return float(doppler)


def _progress(progress):
    """(callable or None, the bar to close or None)."""
    if progress is _DEFAULT:
        bar = TerminalBar() if sys.stderr.isatty() else None
        return bar, bar
    if progress is not None and not callable(progress):
        raise TypeError("progress must be callable or None")
    return progress, None


def _polynomial(values, name):
    array = np.asarray(values, dtype=np.float64)
    if array.shape != (6,) or not np.isfinite(array).all():
        raise ValueError(f"{name} must be six finite coefficients (1, x, y, xy, x^2, y^2), not {values!r}")
    return array


def _offsets(fitted_off):
    """The fitted offsets as given: an offset parameter file, a Result, or (range, azimuth) polynomials.

    Returns the absolute path of the file (None for polynomials) and, for
    polynomials, the two arrays.
    """
    if isinstance(fitted_off, Result):
        return _path(fitted_off.paths["fitted_offset_par"], "fitted_off"), None
    if isinstance(fitted_off, _PATH_TYPES):
        return _path(fitted_off, "fitted_off"), None
    if isinstance(fitted_off, (tuple, list)) and len(fitted_off) == 2:
        return None, (_polynomial(fitted_off[0], "range polynomial"),
                      _polynomial(fitted_off[1], "azimuth polynomial"))
    raise TypeError("fitted_off must be an offset parameter file, a Result or (range, azimuth) polynomials, "
                    f"not {type(fitted_off).__name__}")


class _Lines:
    """Lines of an image given as an array or as an SLC file (read through its XML file)."""

    def __init__(self, image):
        self.array = image if isinstance(image, np.ndarray) else None
        self.info = None if self.array is not None else image_info(image)
        self.shape = self.array.shape if self.array is not None else self.info.shape

    def rows(self, first, count):
        if self.array is not None:
            return np.ascontiguousarray(self.array[first:first + count], dtype=np.complex64)
        return read_lines(self.info, first, count)

    def whole(self):
        return self.rows(0, self.shape[0])


def estimate_doppler(slave):
    """Doppler centroid of an SLC in cycles per line (a fraction of the PRF), from its data.

    The phase of the lag-one azimuth correlation, the sum of s[y+1] conj(s[y]),
    over 2 pi (a spectrum centred on f cycles per line turns by 2 pi f from
    one line to the next), over up to 128 pairs of lines spread over the
    image: the library's estimate, the one the files path takes.

    Parameters
    ----------
    slave : path or complex ndarray (lines, samples)
    """
    from . import _core

    slave = _image(slave, "slave")
    if isinstance(slave, np.ndarray):
        return _core.estimate_array_doppler(np.ascontiguousarray(slave, dtype=np.complex64))
    return _core.estimate_file_doppler(slave)


def resample_outputs(out):
    """The files a resample into out writes, as (path, role)."""
    from ._core import mask_path

    return [(out, "resampled slave"), (xml_path(out), "resampled slave's XML"),
            (mask_path(out), "resampled slave's mask")]


def resample_inputs(master, slave, fitted_off):
    """The files a resample reads, as (path, role)."""
    return [(master, "master image"), (xml_path(master), "master XML"), (slave, "slave image"),
            (xml_path(slave), "slave XML"), (fitted_off, "offset parameter file")]


def resample(master, slave, fitted_off, out=None, doppler=None, progress=_DEFAULT, threads=None):
    """Resample the slave onto the master's grid through the fitted offset polynomials.

    Every master sample (x, y) takes the slave interpolated at
    (x + range_offset(x, y), y + azimuth_offset(x, y)) by a windowed sinc,
    demodulated in azimuth by the slave's Doppler centroid. Samples whose
    kernel leaves the slave are zero and marked in the mask.

    Parameters
    ----------
    master, slave : path, or complex ndarray (lines, samples) when out is None
        Raw SLC images with their XML files beside them; an array master
        gives only the output shape. SCOMPLEX files read as counts times 0.001.
    fitted_off : path, Result or (range, azimuth) polynomials
        The offset parameter file with the fitted polynomials (a Result
        stands for its fitted file); six coefficients each of 1, x, y, x*y,
        x^2, y^2 only when out is None.
    out : path or None
        Resampled SLC to write (its XML beside it, describing the master's
        geometry, in the slave's sample format, and the mask as
        ``<out>.mask``, one byte per sample). None returns arrays.
    doppler : None, 'off' or float
        None follows the slave's centroid: along range by its XML's
        polynomial terms, along azimuth by the data's where it varies (burst
        mode), else one value, the XML's unless the data disagree, else the
        data's; a number is one centroid in cycles per line; 'off'
        interpolates without demodulation.
    progress : callable or None
        Called with the percent done while files are resampled; by default a
        text bar on standard error when it is a terminal.
    threads : int or None
        Threads resampling the lines (None: the cores this process may use);
        the output is the same for any number.

    Returns
    -------
    dict, when out is given
        "lines", "samples", "format", "doppler_centroid" (cycles per line, at
        the image's middle), "doppler_lowest" and "doppler_highest" (its
        extent over the image), "doppler_source" ("xml", "estimated", "given"
        or "off"), "doppler_description" (as the tools print it), "masked",
        "no_data" (slave samples not finite: each spoils only the output
        samples whose kernel holds it), "saturated", "output", "xml", "mask".
    (ndarray of complex64, ndarray of bool), when out is None
        The resampled slave on the master grid and the mask (True where the
        kernel left the slave).

    Raises
    ------
    TypeError, ValueError
        Bad arguments, before any file is opened.
    Error
        An input is missing, unreadable, short or mismatched, or the output
        cannot be written; the message names the file. Nothing is left of
        the output.
    """
    from . import _core

    doppler = _doppler(doppler)
    threads = check_threads(threads)
    off_path, polynomials = _offsets(fitted_off)
    if out is None:
        master, slave = _image(master, "master"), _image(slave, "slave")
        if progress is _DEFAULT:
            progress = None
        elif progress is not None and not callable(progress):
            raise TypeError("progress must be callable or None")
        return _resample_arrays(_core, master, slave, off_path, polynomials, doppler, threads, progress)
    master, slave, out = _path(master, "master"), _path(slave, "slave"), _path(out, "out")
    if polynomials is not None:
        raise TypeError("fitted_off must be an offset parameter file (or a Result) when out is given")
    progress, bar = _progress(progress)
    request = _core.ResampleFileRequest()
    request.master, request.slave, request.fitted_off, request.out_slc = master, slave, off_path, out
    request.doppler, request.threads = doppler, threads
    try:
        written = _core.resample_file(request, progress=progress)
    finally:
        if bar is not None:
            bar.close()
    for warning in written.warnings:
        warnings.warn(f"{out}: {warning}", stacklevel=2)
    return {name: getattr(written, name) for name in _RESAMPLED}


_RESAMPLED = ("lines", "samples", "format", "doppler_centroid", "doppler_lowest", "doppler_highest", "doppler_source",
              "doppler_description", "masked", "no_data", "saturated", "output", "xml", "mask")


def _resample_arrays(binding, master, slave, off_path, polynomials, doppler, threads, progress):
    if polynomials is None:
        offsets = read_offset_file(off_path)
        polynomials = (offsets.range_polynomial, offsets.azimuth_polynomial)
    shape = master.shape if isinstance(master, np.ndarray) else image_info(master).shape
    slave_lines = _Lines(slave)
    xml = None
    if doppler is None and slave_lines.info is not None:  # chosen as the files path chooses it
        coefficients, prf = doppler_coefficients(slave)
        xml = (str(xml_path(slave)), list(coefficients), prf)
    binding.check_offsets_within_images(list(polynomials[0]), list(polynomials[1]), tuple(shape[:2]),
                                        tuple(slave_lines.shape), "the offset polynomials" if off_path is None
                                        else off_path)
    resampled, mask, _, doppler_warnings = binding.resample_array(
        slave_lines.whole(), polynomials[0].tolist(), polynomials[1].tolist(), shape, doppler, xml, threads,
        progress)
    for warning in doppler_warnings:
        warnings.warn(f"{slave if xml is None else xml[0]}: {warning}", stacklevel=3)
    if mask.all():
        raise Error("every sample would be masked: the offsets put the whole master grid outside the slave")
    if mask.mean() > 0.5:
        warnings.warn(f"{100 * mask.mean():.1f} % of the samples are masked (outside the slave): check the offsets",
                      stacklevel=3)
    return resampled, mask


def interferogram(master, slave_resampled, looks=(5, 5), out_dir=None, geotiff=False, progress=_DEFAULT):
    """Interferogram master x conj(slave) and its coherence, both multi-looked.

    The coherence |sum m s*| / sqrt(sum |m|^2 sum |s|^2) over each cell of
    looks (azimuth, range) samples; 0 where a cell holds no signal.

    Parameters
    ----------
    master, slave_resampled : path or complex ndarray (lines, samples)
        Of the same size; paths only when out_dir is given.
    looks : (int, int)
        Azimuth and range looks; the output has lines // looks[0] lines of
        samples // looks[1] samples.
    out_dir : path or None
        Writes ``interferogram`` (complex64) and ``coherence`` (float32) raw
        rasters with XML files there, or ``interferogram.tif`` and
        ``coherence.tif`` with geotiff=True. None returns arrays.
    progress : callable or None
        As for `resample`, when files are written.

    Returns
    -------
    dict, when out_dir is given
        "lines", "samples", "looks", "mean_coherence", "median_coherence",
        "histogram" (20 counts over [0, 1]), "no_data" (samples left out,
        not finite in either image), "interferogram", "coherence".
    (ndarray of complex64, ndarray of float32), when out_dir is None
        The interferogram and the coherence.

    Raises
    ------
    TypeError, ValueError
        Bad arguments (arrays of different shapes among them), before any
        file is opened.
    Error
        An input is missing, short or of another size than the master, or an
        output cannot be written; the message names the file.
    """
    from . import _core

    looks_az, looks_rg = _looks(looks)
    if not isinstance(geotiff, bool):
        raise TypeError(f"geotiff must be True or False, not {geotiff!r}")
    if out_dir is None:
        master, slave = _image(master, "master"), _image(slave_resampled, "slave_resampled")
        if all(isinstance(a, np.ndarray) for a in (master, slave)) and master.shape != slave.shape:
            raise ValueError(f"master {master.shape} and slave_resampled {slave.shape} differ in shape")
        m, s = _Lines(master), _Lines(slave)
        _same_shape(m, s)
        return _core.interferogram_array(m.whole(), s.whole(), looks_az, looks_rg)
    master, slave = _path(master, "master"), _path(slave_resampled, "slave_resampled")
    out_dir = _path(out_dir, "out_dir")
    progress, bar = _progress(progress)
    _same_shape(_Lines(master), _Lines(slave))
    request = _core.InterferogramFileRequest()
    request.master, request.resampled, request.out_dir = master, slave, out_dir
    request.looks_az, request.looks_rg = looks_az, looks_rg
    created = not os.path.isdir(out_dir)
    try:
        os.makedirs(out_dir, exist_ok=True)
        if geotiff:
            formed = gdal_binding("GeoTIFF output").interferogram_file_geotiff(request, progress=progress)
        else:
            formed = _core.interferogram_file(request, progress=progress)
        return {name: getattr(formed, name) for name in _FORMED}
    except BaseException:
        if created and os.path.isdir(out_dir) and not os.listdir(out_dir):
            os.rmdir(out_dir)
        raise
    finally:
        if bar is not None:
            bar.close()


_FORMED = ("lines", "samples", "looks", "mean_coherence", "median_coherence", "histogram", "interferogram",
           "coherence", "no_data")


def _same_shape(master, slave):
    """Refuses images of different sizes, naming the file that does not fit (at least one is a file)."""
    if master.shape == slave.shape:
        return
    odd, other = (slave, master) if slave.info is not None else (master, slave)
    raise Error(f"{odd.shape[0]} lines of {odd.shape[1]} samples, where the "
                f"{'master' if odd is slave else 'resampled slave'} has {other.shape[0]} of {other.shape[1]}",
                odd.info.path)


def mean_coherence(coherence):
    """The mean of a coherence map over the cells that hold signal in both images (coherence not 0),
    in double precision, as the interferogram's summary takes it."""
    held = coherence[coherence != 0]
    return float(np.mean(held, dtype=np.float64)) if held.size else float("nan")


def _shifted_rows(slave, first, count, samples, coarse):
    """Master lines first .. first+count-1 filled from the slave shifted by whole (range, azimuth) offsets."""
    shift_range, shift_azimuth = coarse
    rows = np.zeros((count, samples), np.complex64)
    y0, y1 = max(first + shift_azimuth, 0), min(first + shift_azimuth + count, slave.shape[0])
    x0, x1 = max(shift_range, 0), min(shift_range + samples, slave.shape[1])
    if y0 < y1 and x0 < x1:
        top = y0 - first - shift_azimuth
        rows[top:top + y1 - y0, x0 - shift_range:x1 - shift_range] = slave.rows(y0, y1 - y0)[:, x0:x1]
    return rows


def coarse_coherence(master, slave, coarse, looks=(5, 5)):
    """Coherence with the slave shifted only by the coarse offset in whole samples and lines.

    What co-registration starts from: slave sample (x + coarse[0], y +
    coarse[1]) against master sample (x, y), zero where that leaves the
    slave; the same looks and estimator as `interferogram`. Walks the images
    in blocks of lines.

    Parameters
    ----------
    master, slave : path or complex ndarray (lines, samples)
    coarse : (int, int)
        Range and azimuth offset (slave position = master position + offset).
    looks : (int, int)

    Returns
    -------
    ndarray of float32, shape (lines // looks[0], samples // looks[1])
    """
    from . import _core

    coarse = _pair_of_ints(coarse, "coarse")
    looks_az, looks_rg = _looks(looks)
    master, slave = _Lines(_image(master, "master")), _Lines(_image(slave, "slave"))
    lines, samples = master.shape
    used = lines // looks_az * looks_az
    step = looks_az * max(1, _BLOCK_LINES // looks_az)
    blocks = [_core.interferogram_array(master.rows(first, min(step, used - first)),
                                        _shifted_rows(slave, first, min(step, used - first), samples, coarse),
                                        looks_az, looks_rg)[1]
              for first in range(0, used, step)]
    return np.concatenate(blocks) if blocks else np.zeros((0, samples // looks_rg), np.float32)


def coarse_offset(fitted_off):
    """The coarse offsets (initial_range_offset, initial_azimuth_offset) of an offset file or a Result's fit."""
    path, polynomials = _offsets(fitted_off)
    if path is None:
        raise TypeError("the coarse offset comes from an offset parameter file or a Result, not polynomials")
    return read_offset_file(path).coarse
