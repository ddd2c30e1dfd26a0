"""The picture that says whether co-registration worked: coherence after it, and with the coarse shift only."""

import os

import numpy as np
from matplotlib.backends.backend_agg import FigureCanvasAgg
from matplotlib.figure import Figure

from .files import check_outputs, write_atomically
from .plot import map_aspect
from .resample import _PATH_TYPES, coarse_coherence, coarse_offset, interferogram, mean_coherence, resample

_FORMATS = {".png": "png", ".svg": "svg"}
HISTOGRAM_BINS = 20  # over [0, 1], as the interferogram's summary counts them


def coherence_data(master, slave, fitted_off, resampled=None, looks=(5, 5), doppler=None):
    """The coherence maps and figures `coherence_plot` draws.

    Parameters
    ----------
    master, slave : path or complex ndarray (lines, samples)
        The pair as co-registered (the slave as it was, not resampled).
    fitted_off : path or Result
        The fitted offset parameter file; its initial offsets are the coarse
        shift, its polynomials resample the slave when `resampled` is None.
    resampled : path or complex ndarray, optional
        The slave already resampled onto the master grid.
    looks : (int, int)
        Azimuth and range looks of both coherence maps.
    doppler
        As for `resample`, when the slave is resampled here.

    Returns
    -------
    dict
        "after", "before" (ndarray of float32, lines // looks[0] x samples //
        looks[1]): coherence with the resampled slave and with the slave
        shifted by the coarse offset alone; "mean_after", "mean_before"
        (over the cells that hold signal, coherence not 0, as the
        histograms); "phase_after" (ndarray of float32, same shape): the
        interferogram's phase in radians after co-registration, NaN where a
        cell holds no signal; "coarse" (range, azimuth); "looks".
    """
    coarse = coarse_offset(fitted_off)
    if resampled is None:
        resampled, _ = resample(master, slave, fitted_off, doppler=doppler)
    ifg, after = interferogram(master, resampled, looks)
    before = coarse_coherence(master, slave, coarse, looks)
    phase = np.where(after != 0, np.angle(ifg), np.nan).astype(np.float32)
    return {"after": after, "before": before, "mean_after": mean_coherence(after),
            "mean_before": mean_coherence(before), "phase_after": phase, "coarse": coarse,
            "looks": tuple(looks)}


def coherence_plot(master, slave, fitted_off, path, resampled=None, looks=(5, 5), doppler=None,
                   size=(12, 8), dpi=100, data=None):
    """Draw the coherence map and histogram after co-registration beside those with the coarse shift only.

    Parameters
    ----------
    master, slave, fitted_off, resampled, looks, doppler
        As for `coherence_data`.
    path : str or os.PathLike
        Picture to write; ".png" or ".svg" chooses the format.
    size : (float, float)
        Width and height in inches.
    dpi : float
    data : dict, optional
        What `coherence_data` returned for these inputs, to draw without
        computing it again.

    Returns
    -------
    dict
        `coherence_data`'s dict, with "path" the picture written.

    Raises
    ------
    ValueError
        When the extension is neither ".png" nor ".svg" (before any file is opened).
    Error
        When the picture would overwrite an input, or an input cannot be read.
    """
    extension = os.path.splitext(os.fspath(path))[1].lower()
    if extension not in _FORMATS:
        raise ValueError(f"cannot tell the picture format of {path!r}: use .png or .svg")
    check_outputs([(path, "coherence picture")],
                  [(image, role) for image, role in ((master, "master image"), (slave, "slave image"),
                                                     (fitted_off, "offset parameter file"),
                                                     (resampled, "resampled slave"))
                   if isinstance(image, _PATH_TYPES)])
    if data is None:
        data = coherence_data(master, slave, fitted_off, resampled, looks, doppler)
    figure = Figure(figsize=size, dpi=dpi, layout="constrained")
    FigureCanvasAgg(figure)
    axes = figure.subplots(2, 3, height_ratios=(3, 2))
    looks_az, looks_rg = data["looks"]
    columns = ((data["before"], data["mean_before"],
                "coarse integer shift only ({}, {})".format(*data["coarse"])),
               (data["after"], data["mean_after"], "after co-registration"))
    for column, (coherence, mean, label) in enumerate(columns):
        _draw_column(figure, axes[:, column], coherence, mean, label, looks_az, looks_rg)
    _draw_phase(figure, axes[:, 2], data["phase_after"], looks_az, looks_rg)
    figure.suptitle(f"coherence ({looks_az} x {looks_rg} looks): {data['mean_before']:.4f} with the coarse "
                    f"shift, {data['mean_after']:.4f} co-registered")
    write_atomically(path, lambda temporary: figure.savefig(temporary, format=_FORMATS[extension], dpi=dpi))
    return dict(data, path=path)


def _extent(shape, looks_az, looks_rg):
    """The cells' extent in master samples and lines, first line at the top."""
    lines, samples = shape
    return 0, samples * looks_rg, lines * looks_az, 0


def _aspect(shape, looks_az, looks_rg):
    """Square pixels of the master, as in the QA picture."""
    return map_aspect(shape[1] * looks_rg, shape[0] * looks_az)


def _colorbar(figure, image, axes, label):
    """A colour bar as high as the map, inset in its box (the map keeps its aspect)."""
    return figure.colorbar(image, cax=axes.inset_axes([1.04, 0.0, 0.05, 1.0]), label=label)


def _draw_column(figure, axes, coherence, mean, label, looks_az, looks_rg):
    image = axes[0].imshow(coherence, vmin=0.0, vmax=1.0, cmap="gray", interpolation="nearest",
                           extent=_extent(coherence.shape, looks_az, looks_rg),
                           aspect=_aspect(coherence.shape, looks_az, looks_rg))
    _colorbar(figure, image, axes[0], "coherence")
    axes[0].set_title(f"{label}\nmean coherence {mean:.4f}", fontsize="medium")
    axes[0].set_xlabel("master range sample")
    axes[0].set_ylabel("master line")
    # The cells the mean is taken over: a cell without signal is not a coherence of 0.
    held = coherence[coherence != 0]
    axes[1].hist(held, bins=HISTOGRAM_BINS, range=(0.0, 1.0), color="steelblue")
    axes[1].axvline(mean, color="darkorange", label=f"mean {mean:.4f}")
    axes[1].set_xlim(0.0, 1.0)
    axes[1].set_xlabel(f"coherence of the {held.size} of {coherence.size} cells with signal")
    axes[1].set_ylabel("cells")
    axes[1].legend(fontsize="small", loc="upper left")


_PI_TICKS = ([-np.pi, -np.pi / 2, 0.0, np.pi / 2, np.pi], ["-π", "-π/2", "0", "π/2", "π"])


def _draw_phase(figure, axes, phase, looks_az, looks_rg):
    """The interferogram's phase in a cyclic colour map (-π and π alike; cells without signal blank)
    above its histogram."""
    image = axes[0].imshow(phase, vmin=-np.pi, vmax=np.pi, cmap="twilight", interpolation="nearest",
                           extent=_extent(phase.shape, looks_az, looks_rg),
                           aspect=_aspect(phase.shape, looks_az, looks_rg))
    _colorbar(figure, image, axes[0], "phase (radians)").set_ticks(_PI_TICKS[0], labels=_PI_TICKS[1])
    axes[0].set_title("interferogram phase\nafter co-registration", fontsize="medium")
    axes[0].set_xlabel("master range sample")
    axes[0].set_ylabel("master line")
    held = phase[np.isfinite(phase)]
    axes[1].hist(held, bins=36, range=(-np.pi, np.pi), color="slategray")
    axes[1].set_xlim(-np.pi, np.pi)
    axes[1].set_xticks(*_PI_TICKS)
    axes[1].set_xlabel("interferogram phase (radians)")
    axes[1].set_ylabel("cells")


__all__ = ["coherence_data", "coherence_plot"]
