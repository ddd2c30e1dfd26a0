"""Quality-assessment picture of a co-registration result."""

import os

import matplotlib
import numpy as np
from matplotlib.backends.backend_agg import FigureCanvasAgg
from matplotlib.figure import Figure
from matplotlib.path import Path

from .files import write_atomically

_FORMATS = {".png": "png", ".svg": "svg"}
_SURFACE_POINTS = 64  # lattice of the fitted surface in each direction
_TERMS = ("1", "x", "y", "x*y", "x^2", "y^2")
_CULLED = {"marker": "x", "color": "limegreen", "label": "culled"}  # stands out on saturated residuals
_REJECTED = {"marker": "o", "facecolors": "none", "edgecolors": "dimgray", "label": "rejected"}
_OUTSIDE_ALPHA = 0.3  # the fitted surface where no accepted position holds it: extrapolated
_LONGEST_SIDE = 4.0  # a map drawn at most this many times higher than wide, or wider than high
SNR_UNIT = "peak / mean |correlation| off the peak"


def convex_hull(x, y):
    """Corners of the convex hull of points (x, y), counter-clockwise (Andrew's monotone chain).

    Returns
    -------
    ndarray of float64, shape (k, 2)
        Fewer than three corners when the points do not span an area.
    """
    points = sorted(set(zip(np.asarray(x, np.float64).tolist(), np.asarray(y, np.float64).tolist())))
    if len(points) < 3:
        return np.array(points, np.float64).reshape(-1, 2)

    def half(sequence):
        chain = []
        for p in sequence:
            while len(chain) >= 2 and ((chain[-1][0] - chain[-2][0]) * (p[1] - chain[-2][1])
                                       - (chain[-1][1] - chain[-2][1]) * (p[0] - chain[-2][0])) <= 0:
                chain.pop()
            chain.append(p)
        return chain[:-1]

    return np.array(half(points) + half(reversed(points)), np.float64)


def _inside(hull, x, y):
    """Which points of the lattice x (columns) by y (rows) lie in the hull (edges included)."""
    if len(hull) < 3:
        return np.zeros((y.size, x.size), bool)
    grid_x, grid_y = np.meshgrid(x, y)
    points = np.column_stack((grid_x.ravel(), grid_y.ravel()))
    # A hair of tolerance keeps lattice points on the hull's edges inside.
    tolerance = 1e-9 * max(float(np.ptp(hull[:, 0])), float(np.ptp(hull[:, 1])), 1.0)
    inside = Path(hull, closed=False).contains_points(points, radius=tolerance)
    inside |= Path(hull[::-1], closed=False).contains_points(points, radius=tolerance)
    return inside.reshape(y.size, x.size)


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
        "rejected" (not accepted) masks (naz, nr); "snr" (naz, nr);
        "hull" (k, 2): the convex hull of the accepted positions (x, y), and
        "surface_inside" (len(surface_y), len(surface_x)): lattice points in
        it, where the fit rests on measurements (elsewhere it extrapolates).
    """
    surface_x = np.linspace(0.0, max(result.image_width - 1, 0), _SURFACE_POINTS)
    surface_y = np.linspace(0.0, max(result.image_lines - 1, 0), _SURFACE_POINTS)
    range_fitted, azimuth_fitted = result.evaluate(surface_x[np.newaxis, :], surface_y[:, np.newaxis])
    range_residual, azimuth_residual = result.residuals()
    measured = lambda offset: np.where(result.accepted, offset.astype(np.float64), np.nan)
    rows, columns = np.nonzero(result.accepted)
    hull = convex_hull(result.range_positions[columns], result.azimuth_positions[rows])
    return {
        "range_positions": result.range_positions, "azimuth_positions": result.azimuth_positions,
        "range_measured": measured(result.range_offset), "azimuth_measured": measured(result.azimuth_offset),
        "surface_x": surface_x, "surface_y": surface_y,
        "range_fitted": range_fitted, "azimuth_fitted": azimuth_fitted,
        "range_residual": range_residual, "azimuth_residual": azimuth_residual,
        "culled": result.accepted & ~result.kept, "rejected": ~result.accepted, "snr": result.snr,
        "hull": hull, "surface_inside": _inside(hull, surface_x, surface_y),
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
    _draw_snr(figure, axes[0, 3], data, result.snr_threshold)
    _draw_coefficients(axes[1, 3], result)
    aspect = map_aspect(result.image_width, result.image_lines)
    for ax in axes.ravel():
        ax.set_aspect(aspect, adjustable="box")
    axes[0, 0].invert_yaxis()  # master lines run down, as in the image
    figure.suptitle(_title(result, aspect))
    write_atomically(path, lambda temporary: figure.savefig(temporary, format=_FORMATS[extension], dpi=dpi))


def map_aspect(width, lines):
    """Height on the page of one master line over the width of one range sample: 1 (square pixels)
    unless the image is more than _LONGEST_SIDE times higher than wide or wider than high, which
    is then drawn at that ratio."""
    ratio = max(lines, 1) / max(width, 1)
    return float(np.clip(ratio, 1 / _LONGEST_SIDE, _LONGEST_SIDE) / ratio)


def _title(result, aspect):
    nr, naz = result.range_positions.size, result.azimuth_positions.size
    run = [f"grid {nr} x {naz}"]
    if result.window:
        run.insert(0, "window {} x {}".format(*result.window))
    if result.snr_threshold is not None:
        run.append(f"SNR threshold {result.snr_threshold:g}")
    if aspect != 1.0:
        run.append(f"lines drawn {aspect:.3g} x as high as samples are wide")
    return (f"{result.image_width} x {result.image_lines} image, {', '.join(run)}\n"
            f"{result.accepted_count} of {result.samples} samples accepted, {result.kept_count} kept after "
            f"{result.passes} passes; std. dev. range {result.range_std:.4f} samples, azimuth "
            f"{result.azimuth_std:.4f} lines")


def _draw_direction(figure, axes, data, name, unit):
    x, y = data["range_positions"], data["azimuth_positions"]
    measured, fitted = data[f"{name}_measured"], data[f"{name}_fitted"]
    kept = ~(data["culled"] | data["rejected"])
    inside = data["surface_inside"]
    # Culled outliers would swamp the colour scales; they show at its ends.
    limits = _finite_limits(np.concatenate((measured[kept], fitted[inside])))
    label = f"{name} offset ({unit})"
    _draw_map(figure, axes[0], x, y, measured, f"measured {name} offset", *limits, label=label)
    # Where no accepted position holds the fit it extrapolates: faded, the hull outlined.
    _draw_map(figure, axes[1], data["surface_x"], data["surface_y"], np.where(inside, fitted, np.nan),
              f"fitted {name} offset\n(faded outside the accepted positions)", *limits, label=label)
    _draw_map(figure, axes[1], data["surface_x"], data["surface_y"], np.where(inside, np.nan, fitted), None,
              *limits, alpha=_OUTSIDE_ALPHA)
    if len(data["hull"]) >= 3:
        hull = np.vstack((data["hull"], data["hull"][:1]))
        axes[1].plot(hull[:, 0], hull[:, 1], color="black", linewidth=0.8)
    residual = data[f"{name}_residual"]
    bound = _finite_limits(np.abs(residual[kept]))[1]
    _draw_map(figure, axes[2], x, y, residual, f"{name} residual", -bound, bound, cmap="RdBu_r",
              label=f"measured - fitted ({unit})")
    for mask, style in ((data["culled"], _CULLED), (data["rejected"], _REJECTED)):
        rows, columns = np.nonzero(mask)
        if rows.size:  # no legend entry for what is not there
            axes[2].scatter(x[columns], y[rows], s=16, linewidths=1.0, **style)
    if data["culled"].any() or data["rejected"].any():
        axes[2].legend(fontsize="x-small", loc="upper right")
    axes[0].set_ylabel("master line")


def _draw_snr(figure, axes, data, threshold):
    """The SNR map from 0, the threshold marked on the colour bar and positions at or below it outlined."""
    snr = data["snr"]
    top = max(float(np.nanmax(snr)) if snr.size else 0.0, 1.1 * (threshold or 0.0), 1.0)
    colorbar = _draw_map(figure, axes, data["range_positions"], data["azimuth_positions"], snr, "SNR", 0.0,
                         top, label=f"SNR ({SNR_UNIT})")
    if threshold is None:
        return
    colorbar.ax.axhline(threshold, color="red", linewidth=2.0)
    rows, columns = np.nonzero(snr <= threshold)
    axes.scatter(data["range_positions"][columns], data["azimuth_positions"][rows], s=10, marker="s",
                 facecolors="none", edgecolors="red", linewidths=0.8, label=f"SNR <= {threshold:g}")
    axes.set_title(f"SNR (threshold {threshold:g} in red)", fontsize="medium")
    if rows.size:
        axes.legend(fontsize="x-small", loc="upper right")


def _edges(centres):
    """Cell edges around positions: halfway between neighbours, as far again
    outside; a single position gets a cell 32 wide (a grid of one row or one
    column still shows)."""
    centres = np.asarray(centres, dtype=np.float64)
    if centres.size == 1:
        return np.array([centres[0] - 16.0, centres[0] + 16.0])
    middle = (centres[:-1] + centres[1:]) / 2.0
    return np.concatenate(([2 * centres[0] - middle[0]], middle, [2 * centres[-1] - middle[-1]]))


def _draw_map(figure, axes, x, y, values, title, vmin=None, vmax=None, cmap="viridis", label=None, alpha=None):
    """pcolormesh of values on cells around (x, y); with a title, a colour bar as high as the map
    (returned), labelled with label."""
    mesh = axes.pcolormesh(_edges(x), _edges(y), values, shading="flat", vmin=vmin, vmax=vmax, cmap=cmap,
                           alpha=alpha)
    if title is None:
        return None
    # Inset in the map's own box, so the bar follows the map's fixed aspect.
    colorbar = figure.colorbar(mesh, cax=axes.inset_axes([1.04, 0.0, 0.06, 1.0]))
    if label:
        colorbar.set_label(label, fontsize="small")
    axes.set_title(title, fontsize="medium")
    axes.set_xlabel("master range sample")
    return colorbar


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
