"""Co-registration of one pair through the module's own run driver."""

import dataclasses
import numbers
import os
import stat
import sys
import time

from .error import Error
from .result import Result


_DEFAULT = object()


def _path(value, name):
    if not isinstance(value, (str, bytes, os.PathLike)):
        raise TypeError(f"{name} must be a path (str, bytes or os.PathLike), "
                        f"not {type(value).__name__}")
    return os.fsencode(os.path.abspath(os.fsdecode(value)))


def _check_inputs(paths):
    """Error naming the first input that is missing or not a regular file.

    The module's own messages ("Failed to open the master image !") stay as
    its host expects them and name no file; asked here first, the user learns
    which file it is.
    """
    from ._core import image_xml_path

    for what, path in (("master image", paths["master"]),
                       ("master image parameter file", image_xml_path(paths["master"])),
                       ("slave image", paths["slave"]),
                       ("slave image parameter file", image_xml_path(paths["slave"])),
                       ("offset parameter file", paths["off"])):
        try:
            mode = os.stat(path).st_mode
        except FileNotFoundError:
            raise Error(f"{what} not found", path) from None
        except OSError as error:
            raise Error(f"{what} cannot be opened: {error.strerror}", path) from None
        if not stat.S_ISREG(mode):
            raise Error(f"{what} is not a regular file", path)


def _pair_of_ints(value, name):
    if (not isinstance(value, (tuple, list)) or len(value) != 2
            or not all(isinstance(v, numbers.Integral) and not isinstance(v, bool)
                       for v in value)):
        raise TypeError(f"{name} must be a pair of integers, not {value!r}")
    # The binding takes 32-bit integers; beyond them pybind11 would only say
    # "incompatible function arguments".
    if not all(-2**31 <= v < 2**31 for v in value):
        raise ValueError(f"{name} must be a pair of 32-bit integers, not {value!r}")
    return int(value[0]), int(value[1])


class TerminalBar:
    """A one-line progress bar with the time left, redrawn in place."""

    def __init__(self, stream=None, width=30):
        self._stream = stream or sys.stderr
        self._width = width
        self._start = time.monotonic()

    def __call__(self, percent):
        done = max(0.0, min(percent, 100.0))
        filled = int(self._width * done / 100.0)
        elapsed = time.monotonic() - self._start
        left = elapsed * (100.0 - done) / done if done > 0 else 0.0
        self._stream.write(f"\r[{'#' * filled}{'.' * (self._width - filled)}] {done:5.1f}%  "
                           f"{int(left) // 60}:{int(left) % 60:02d} left")
        self._stream.flush()

    def close(self):
        self._stream.write("\n")
        self._stream.flush()


def _restore(path, content):
    """Puts the offset parameter file back as the caller had it."""
    from ._core import PendingOutput

    with PendingOutput(path) as temporary, open(temporary, "wb") as f:
        f.write(content)


def run_request(window, grid, snr_threshold, threads=1, master=b"", slave=b"", off=b"", overwrite=False):
    """The binding's RunRequest, checked: ValueError with the library's message when it cannot run."""
    from ._core import RunRequest

    request = RunRequest()
    request.master, request.slave, request.offset_par = master, slave, off
    request.window_width, request.window_height = window
    request.range_samples, request.azimuth_samples = grid
    request.snr_threshold, request.overwrite, request.threads = float(snr_threshold), overwrite, int(threads)
    request.check()
    return request


def default_threads():
    """The cores this process may run on (its affinity mask)."""
    return len(os.sched_getaffinity(0))


def check_threads(threads):
    """threads as an int (None: default_threads()); TypeError or ValueError naming it otherwise."""
    if threads is None:
        return default_threads()
    if not isinstance(threads, numbers.Integral) or isinstance(threads, bool):
        raise TypeError(f"threads must be an integer or None, not {threads!r}")
    from . import _core

    # Clamped into a C long long first: counts beyond it are refused alike.
    problem = _core.thread_count_problem(max(-1, min(int(threads), 1 << 62)))
    if problem is not None:
        raise ValueError(f"threads must be {problem}, not {threads}")
    return int(threads)


def coregister(master, slave, off, window=(64, 64), grid=(32, 32), snr_threshold=7.0,
               overwrite=False, progress=_DEFAULT, log=None, keep_work_files=False, threads=None):
    """Co-register a slave SLC image to a master SLC image.

    Runs the same stages as the plug-in and writes the same files: the
    offset parameter file `off` is rewritten with the estimation grid, and
    the fitted polynomials go to ``<off up to its last '.'>_new.off`` (or
    over `off` with ``overwrite=True``).

    Parameters
    ----------
    master, slave : path
        Raw SLC images, each with its XML image parameter file beside it.
    off : path
        Offset parameter file holding the coarse offset.
    window : (int, int)
        Correlation window (width in samples, height in lines), powers of two.
    grid : (int, int)
        Offset estimates in range and in azimuth.
    snr_threshold : float
        SNR an estimate must exceed to be used.
    overwrite : bool
        Write the fit over `off` instead of beside it.
    progress : callable or None
        Called with the percent done before each grid position. By default a
        text bar on standard error when it is a terminal, else nothing.
    log : path or None
        File for the module's diagnostics (standard output by default).
    keep_work_files : bool
        Keep the run's work files (binary offsets and SNR grids, listings) in
        the master's directory after a success; their paths are then in
        ``result.paths``.
    threads : int or None
        Threads measuring the grid positions (default: the cores this process
        may use). Any number gives the same files and result.

    Returns
    -------
    Result

    Raises
    ------
    TypeError, ValueError
        Bad arguments, before any file is opened.
    Error
        The run failed; `off` is left as it was.
    """
    from . import _core

    paths = {name: _path(value, name) for name, value in
             (("master", master), ("slave", slave), ("off", off))}
    width, height = _pair_of_ints(window, "window")
    range_samples, azimuth_samples = _pair_of_ints(grid, "grid")
    if not isinstance(snr_threshold, numbers.Real) or isinstance(snr_threshold, bool):
        raise TypeError(f"snr_threshold must be a number, not {snr_threshold!r}")
    for name, flag in (("overwrite", overwrite), ("keep_work_files", keep_work_files)):
        if not isinstance(flag, bool):
            raise TypeError(f"{name} must be True or False, not {flag!r}")
    threads = check_threads(threads)
    request = run_request((width, height), (range_samples, azimuth_samples), snr_threshold, threads,
                          paths["master"], paths["slave"], paths["off"], overwrite)
    log_path = None if log is None else _path(log, "log")

    bar = None
    if progress is _DEFAULT:
        progress = bar = TerminalBar() if sys.stderr.isatty() else None
    elif progress is not None and not callable(progress):
        raise TypeError("progress must be callable or None")

    _check_inputs(paths)
    try:
        with open(paths["off"], "rb") as f:
            original = f.read()
    except OSError:
        original = None
    try:
        record = _core.run(request, progress=progress, log=log_path, keep_work_files=keep_work_files)
    except BaseException:
        # A failed run, or the progress callable (or Ctrl-C) stopped it: the
        # exception comes out unchanged, the offset file as it was.
        if original is not None:
            _restore(paths["off"], original)
        raise
    finally:
        if bar is not None:
            bar.close()
    fields = {field.name: getattr(record, field.name) for field in dataclasses.fields(Result)
              if field.name not in ("paths", "window", "snr_threshold")}
    fields.update(window=(width, height), snr_threshold=snr_threshold)
    fields["paths"] = {"master": os.fsdecode(paths["master"]), "slave": os.fsdecode(paths["slave"]),
                       "offset_par": os.fsdecode(paths["off"]), "fitted_offset_par": record.fitted_offset_par}
    if keep_work_files:
        names = ("offsets", "snr", "listing", "culled_offsets", "culled_listing")
        fields["paths"].update({name: getattr(record.work_files, name) for name in names})
    return Result(**fields)
