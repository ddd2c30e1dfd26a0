"""Quality-assessment picture of a co-registration result."""

import os

import matplotlib
import numpy as np
from matplotlib.backends.backend_agg import FigureCanvasAgg
from matplotlib.figure import Figure

from .files import write_atomically

_FORMATS = {".png": "png", ".svg": "svg"}
_SURFACE_POINTS = 64  # lattice of the fitted surface in each direction
_TERMS = ("1", "x", "y", "x*y", "x^2", "y^2")
_CULLED = {"marker": "x", "color": "limegreen", "label": "culled"}  # stands out on saturated residuals
_REJECTED = {"marker": "o", "facecolors": "none", "edgecolors": "dimgray", "label": "rejected"}


def plot_data(result):
    """The arrays `qa_plot` draws.

    Parameters
    ----------
    result : Result

    Returns
    -------
    dict of str to ndarray
        "range_positions" (nr,) and "azimuth_positions" (naz,): the grid;
        "range_measured", "azimuth_measured" (naz, nr): measured offsets,
        NaN where not accepted; "surface_x", "surface_y": lattice over the
        master image on which "range_fitted", "azimuth_fitted"
        (len(surface_y), len(surface_x)) hold the fitted surfaces;
        "range_residual", "azimuth_residual" (naz, nr): measured - fitted,
        NaN where not accepted; "culled" (accepted, not kept) and
        "rejected" (not accepted) masks (naz, nr); "snr" (naz, nr).
    """
    surface_x = np.linspace(0.0, max(result.image_width - 1, 0), _SURFACE_POINTS)
    surface_y = np.linspace(0.0, max(result.image_lines - 1, 0), _SURFACE_POINTS)
    range_fitted, azimuth_fitted = result.evaluate(surface_x[np.newaxis, :], surface_y[:, np.newaxis])
    range_residual, azimuth_residual = result.residuals()
    measured = lambda offset: np.where(result.accepted, offset.astype(np.float64), np.nan)
    return {
        "range_positions": result.range_positions, "azimuth_positions": result.azimuth_positions,
        "range_measured": measured(result.range_offset), "azimuth_measured": measured(result.azimuth_offset),
        "surface_x": surface_x, "surface_y": surface_y,
        "range_fitted": range_fitted, "azimuth_fitted": azimuth_fitted,
        "range_residual": range_residual, "azimuth_residual": azimuth_residual,
        "culled": result.accepted & ~result.kept, "rejected": ~result.accepted, "snr": result.snr,
    }


def qa_plot(result, path, size=(12, 8), dpi=100):
    """Draw the measured offsets, fitted surfaces, residuals and SNR of a result.

    Parameters
    ----------
    result : Result
    path : str or os.PathLike
        Output file; ".png" or ".svg" chooses the format.
    size : (float, float)
        Width and height in inches; a PNG has size * dpi pixels.
    dpi : float

    Returns
    -------
    path
        The path written.

    Raises
    ------
    ValueError
        When the extension is neither ".png" nor ".svg".
    """
    extension = os.path.splitext(os.fspath(path))[1].lower()
    if extension not in _FORMATS:
        raise ValueError(f"cannot tell the picture format of {path!r}: use .png or .svg")
    data = plot_data(result)
    # Text scales with the picture (10 points at 12 x 8 inches) so that small pictures keep room for the maps.
    with matplotlib.rc_context({"font.size": min(max(10 * min(size[0] / 12, size[1] / 8), 3), 10)}):
        _draw(result, data, path, size, dpi, extension)
    return path


def _draw(result, data, path, size, dpi, extension):
    figure = Figure(figsize=size, dpi=dpi, layout="constrained")
    FigureCanvasAgg(figure)
    axes = figure.subplots(2, 4, sharex=True, sharey=True)
    for row, (name, unit) in enumerate((("range", "samples"), ("azimuth", "lines"))):
        _draw_direction(figure, axes[row, :3], data, name, unit)
    _draw_map(figure, axes[0, 3], data["range_positions"], data["azimuth_positions"], data["snr"], "SNR")
    _draw_coefficients(axes[1, 3], result)
    axes[0, 0].invert_yaxis()  # master lines run down, as in the image
    figure.suptitle(f"{result.accepted_count} of {result.samples} samples accepted, "
                    f"{result.kept_count} kept after {result.passes} passes; std. dev. range "
                    f"{result.range_std:.4f} samples, azimuth {result.azimuth_std:.4f} lines")
    write_atomically(path, lambda temporary: figure.savefig(temporary, format=_FORMATS[extension], dpi=dpi))


def _draw_direction(figure, axes, data, name, unit):
    x, y = data["range_positions"], data["azimuth_positions"]
    measured, fitted = data[f"{name}_measured"], data[f"{name}_fitted"]
    kept = ~(data["culled"] | data["rejected"])
    # Culled outliers would swamp the colour scales; they show at its ends.
    limits = _finite_limits(np.concatenate((measured[kept], fitted.ravel())))
    _draw_map(figure, axes[0], x, y, measured, f"measured {name} offset ({unit})", *limits)
    _draw_map(figure, axes[1], data["surface_x"], data["surface_y"], fitted,
              f"fitted {name} offset ({unit})", *limits)
    residual = data[f"{name}_residual"]
    bound = _finite_limits(np.abs(residual[kept]))[1]
    _draw_map(figure, axes[2], x, y, residual, f"{name} residual ({unit})", -bound, bound, cmap="RdBu_r")
    for mask, style in ((data["culled"], _CULLED), (data["rejected"], _REJECTED)):
        rows, columns = np.nonzero(mask)
        axes[2].scatter(x[columns], y[rows], s=16, linewidths=1.0, **style)
    if data["culled"].any() or data["rejected"].any():
        axes[2].legend(fontsize="x-small", loc="upper right")
    axes[0].set_ylabel("master line")


def _edges(centres):
    """Cell edges around positions: halfway between neighbours, as far again
    outside; a single position gets a cell 32 wide (a grid of one row or one
    column still shows)."""
    centres = np.asarray(centres, dtype=np.float64)
    if centres.size == 1:
        return np.array([centres[0] - 16.0, centres[0] + 16.0])
    middle = (centres[:-1] + centres[1:]) / 2.0
    return np.concatenate(([2 * centres[0] - middle[0]], middle, [2 * centres[-1] - middle[-1]]))


def _draw_map(figure, axes, x, y, values, title, vmin=None, vmax=None, cmap="viridis"):
    mesh = axes.pcolormesh(_edges(x), _edges(y), values, shading="flat", vmin=vmin, vmax=vmax,
                           cmap=cmap)
    figure.colorbar(mesh, ax=axes)
    axes.set_title(title, fontsize="medium")
    axes.set_xlabel("master range sample")


def _draw_coefficients(axes, result):
    axes.set_axis_off()
    lines = [f"{'term':>5} {'range':>12} {'azimuth':>12}"]
    for k, term in enumerate(_TERMS):
        lines.append(f"{term:>5} {result.range_polynomial[k]:12.5e} {result.azimuth_polynomial[k]:12.5e}")
        lines.append(f"{'+/-':>5} {result.range_errors[k]:12.2e} {result.azimuth_errors[k]:12.2e}")
    axes.text(0.0, 1.0, "\n".join(lines), family="monospace", fontsize="small", va="top",
              transform=axes.transAxes)


def _finite_limits(values):
    finite = values[np.isfinite(values)]
    if finite.size == 0:
        return -1.0, 1.0
    low, high = float(finite.min()), float(finite.max())
    return (low - 0.5, high + 0.5) if low == high else (low, high)
