"""Quality-assessment picture of a dense offset field: the offsets, their arrows, SNR and window states."""

import math
import os

import numpy as np
from matplotlib.backends.backend_agg import FigureCanvasAgg
from matplotlib.colors import BoundaryNorm, ListedColormap
from matplotlib.figure import Figure
from matplotlib.patches import Patch

from .files import check_outputs, write_atomically
from .offsets import DenseOffsets

_FORMATS = {".png": "png", ".svg": "svg"}
STATES = ("good", "no data", "no peak", "low snr", "outlier", "filled")
# Fixed per state so that pictures of different runs read alike; no data in the grey of empty map cells.
STATE_COLOURS = ("#4daf4a", "#bdbdbd", "#984ea3", "#ff7f00", "#e41a1c", "#377eb8")
_EMPTY = "#bdbdbd"  # map cells without an offset
DEFAULT_SNR_MIN = 5.0  # the tracker's, marked when the field does not say its own
_ARROWS = 16  # arrows along the longer side of the grid
# The colour scale of an offset map covers this percentile of the departures from the median, so that a
# few wild windows do not flatten the rest.
_SPREAD_PERCENTILE = 99.0


def _as_field(field):
    return field if isinstance(field, DenseOffsets) else DenseOffsets.load(field)


def _centred_limits(values, centre):
    """(low, high) symmetric about centre, covering most finite values' departures from it."""
    finite = values[np.isfinite(values)]
    if finite.size == 0 or not math.isfinite(centre):
        return -1.0, 1.0
    half = float(np.percentile(np.abs(finite - centre), _SPREAD_PERCENTILE))
    half = half if half > 0.0 else 1e-3
    return centre - half, centre + half


def _arrow_indices(count, stride):
    """Every stride-th cell, the first half a stride in, so the arrows sit evenly inside the grid."""
    return np.arange(min(stride // 2, count - 1), count, stride)


def offsets_plot_data(field):
    """What `offsets_plot` draws, panel by panel.

    Parameters
    ----------
    field : DenseOffsets or path
        A dense_offsets result, or the GeoTIFF it (or finecoreg-offsets) wrote.

    Returns
    -------
    dict
        "extent" (left, right, bottom, top): the grid's cells in master
        samples and lines, lines running down; "range_offset",
        "azimuth_offset" (rows, columns) with "range_median",
        "azimuth_median" (over the good windows) and "range_limits",
        "azimuth_limits", colour limits centred on them; "magnitude" (the
        length of each offset); "arrows": dict of "x", "y" (master sample and
        line of each arrow), "range", "azimuth" (its offset), every
        "stride"-th window in both directions; "range_sigma"; "snr" and
        "snr_min" (None when not known); "mask" and "counts" (window state
        name -> count); "median_sigma" (range, azimuth); "window" (None when
        not known) and "step".
    """
    field = _as_field(field)
    rows, columns = field.mask.shape
    step_range, step_azimuth = field.step
    x, y = field.range_positions, field.azimuth_positions
    medians = {name: field.good_median(getattr(field, f"{name}_offset")) for name in ("range", "azimuth")}
    stride = max(1, math.ceil(max(rows, columns) / _ARROWS))
    arrow_rows, arrow_columns = _arrow_indices(rows, stride), _arrow_indices(columns, stride)
    cells = np.ix_(arrow_rows, arrow_columns)
    data = {
        "extent": (x[0] - step_range / 2, x[-1] + step_range / 2, y[-1] + step_azimuth / 2,
                   y[0] - step_azimuth / 2),
        "magnitude": np.hypot(field.range_offset, field.azimuth_offset),
        "arrows": {"x": x[arrow_columns], "y": y[arrow_rows], "range": field.range_offset[cells],
                   "azimuth": field.azimuth_offset[cells], "stride": stride},
        "range_sigma": field.range_sigma, "snr": field.snr, "snr_min": field.snr_min, "mask": field.mask,
        "counts": field.counts(), "median_sigma": field.median_sigma(), "window": field.window,
        "step": field.step,
    }
    for name, centre in medians.items():
        values = getattr(field, f"{name}_offset")
        data.update({f"{name}_offset": values, f"{name}_median": centre,
                     f"{name}_limits": _centred_limits(values, centre)})
    return data


def offsets_plot(field, path, size=(15, 9), dpi=100):
    """Draw the range and azimuth offset maps, the offsets as arrows, the SNR and the window states.

    Parameters
    ----------
    field : DenseOffsets or path
        A dense_offsets result, or the GeoTIFF it (or finecoreg-offsets) wrote.
    path : str or os.PathLike
        Picture to write; ".png" or ".svg" chooses the format.
    size : (float, float)
        Width and height in inches.
    dpi : float

    Returns
    -------
    path

    Raises
    ------
    ValueError
        When the extension is neither ".png" nor ".svg" (before anything is read).
    Error
        The GeoTIFF cannot be read, or the picture would overwrite it.
    """
    extension = os.path.splitext(os.fspath(path))[1].lower()
    if extension not in _FORMATS:
        raise ValueError(f"cannot tell the picture format of {path!r}: use .png or .svg")
    if not isinstance(field, DenseOffsets):
        check_outputs([(path, "offsets picture")], [(field, "offset field")])
    data = offsets_plot_data(field)
    figure = Figure(figsize=size, dpi=dpi, layout="constrained")
    FigureCanvasAgg(figure)
    axes = figure.subplots(2, 3, sharex=True, sharey=True)
    for ax, name, unit in ((axes[0, 0], "range", "samples"), (axes[0, 1], "azimuth", "lines")):
        _draw_offset(figure, ax, data, name, unit)
    _draw_arrows(figure, axes[0, 2], data)
    _draw_snr(figure, axes[1, 0], data)
    _draw_sigma(figure, axes[1, 1], data)
    _draw_mask(axes[1, 2], data)
    for ax in axes[:, 0]:
        ax.set_ylabel("master line")
    for ax in axes[1, :]:
        ax.set_xlabel("master range sample")
    figure.suptitle(_title(data))
    write_atomically(path, lambda temporary: figure.savefig(temporary, format=_FORMATS[extension], dpi=dpi))
    return path


def _title(data):
    rows, columns = data["mask"].shape
    window = "windows" if data["window"] is None else "windows of {} x {}".format(*data["window"])
    counts = ", ".join(f"{n} {name}" for name, n in data["counts"].items())
    return (f"dense offsets: {columns} x {rows} {window}, step {data['step'][0]:g} x {data['step'][1]:g}\n"
            f"{counts}; median sigma {data['median_sigma'][0]:.4f} samples, "
            f"{data['median_sigma'][1]:.4f} lines")


def _map(axes, values, data, **style):
    return axes.imshow(values, extent=data["extent"], interpolation="nearest", aspect="equal", **style)


def _colour_bar(figure, axes, image, label, **options):
    """A colour bar as tall as the map: the layout's own would span the row, not the square-pixel map."""
    return figure.colorbar(image, cax=axes.inset_axes([1.04, 0.0, 0.05, 1.0]), label=label, **options)


def _colour_map(name):
    import matplotlib

    return matplotlib.colormaps[name].with_extremes(bad=_EMPTY)


def _draw_offset(figure, axes, data, name, unit):
    low, high = data[f"{name}_limits"]
    image = _map(axes, data[f"{name}_offset"], data, cmap=_colour_map("RdBu_r"), vmin=low, vmax=high)
    _colour_bar(figure, axes, image, unit, extend="both")
    axes.set_title(f"{name} offset (median {data[f'{name}_median']:.4f})", fontsize="medium")


def _draw_arrows(figure, axes, data):
    image = _map(axes, data["magnitude"], data, cmap=_colour_map("viridis"))
    _colour_bar(figure, axes, image, "samples, lines")
    arrows = data["arrows"]
    length = np.hypot(arrows["range"], arrows["azimuth"])
    longest = float(np.nanmax(length)) if np.isfinite(length).any() else 0.0
    if longest > 0.0:  # the longest arrow spans most of the distance between arrows
        spacing = arrows["stride"] * min(data["step"])
        axes.quiver(arrows["x"], arrows["y"], arrows["range"], arrows["azimuth"], angles="xy",
                    scale_units="xy", scale=longest / (0.9 * spacing), color="white", edgecolor="black",
                    linewidth=0.5, width=0.006)
    axes.set_title("offset length and direction", fontsize="medium")


def _draw_snr(figure, axes, data):
    known = data["snr_min"] is not None
    threshold = data["snr_min"] if known else DEFAULT_SNR_MIN
    # From zero and past the threshold, so that the threshold shows on the bar and a window's distance
    # above it reads as colour.
    finite = data["snr"][np.isfinite(data["snr"])]
    top = max(float(finite.max()) if finite.size else 0.0, 1.25 * threshold)
    image = _map(axes, data["snr"], data, cmap=_colour_map("magma"), vmin=0.0, vmax=top)
    bar = _colour_bar(figure, axes, image, "SNR")
    bar.ax.axhline(threshold, color="cyan", linewidth=2)
    axes.set_title(f"correlation SNR ({'' if known else 'default '}threshold {threshold:g}, cyan)",
                   fontsize="medium")


def _draw_sigma(figure, axes, data):
    image = _map(axes, data["range_sigma"], data, cmap=_colour_map("cividis"))
    _colour_bar(figure, axes, image, "samples")
    axes.set_title("range sigma (azimuth: median {:.4f} lines)".format(data["median_sigma"][1]),
                   fontsize="medium")


def _draw_mask(axes, data):
    norm = BoundaryNorm(np.arange(len(STATES) + 1) - 0.5, len(STATES))
    _map(axes, data["mask"], data, cmap=ListedColormap(STATE_COLOURS), norm=norm)
    handles = [Patch(facecolor=colour, edgecolor="black", linewidth=0.5, label=f"{name} ({data['counts'][name]})")
               for name, colour in zip(STATES, STATE_COLOURS)]
    axes.legend(handles=handles, loc="upper left", bbox_to_anchor=(1.04, 1.0), title="window state",
                fontsize="small")
    axes.set_title("window states", fontsize="medium")


__all__ = ["STATES", "STATE_COLOURS", "offsets_plot", "offsets_plot_data"]
