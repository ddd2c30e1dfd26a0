"""The files that cover a whole stack: summary.csv and overview.png."""

import csv
import datetime
import os

import numpy as np
from matplotlib.backends.backend_agg import FigureCanvasAgg
from matplotlib.figure import Figure

from .error import Error
from .files import write_atomically
from .result import evaluate_polynomial
from .stack_dense import DENSE_FIELDS, draw_dense, has_dense
from .stack_pair import COHERENCE_FIELDS

SUMMARY_FILE = "summary.csv"
OVERVIEW_FILE = "overview.png"
_COUNTS = ("accepted_count", "kept_count", "samples")
# Scene places and series in colours that do not read as a failure (red marks those).
_COLOURS = ("tab:blue", "tab:orange", "tab:green", "tab:purple", "tab:brown")
COLUMNS = (["pair", "status"] + [f"range_c{k}" for k in range(6)] + [f"azimuth_c{k}" for k in range(6)]
           + ["accepted", "kept", "samples", "range_std", "azimuth_std"] + list(COHERENCE_FIELDS)
           + list(DENSE_FIELDS) + ["seconds", "error"])


def _row(pair):
    r = pair.record
    if pair.status != "ok":
        return [pair.name, pair.status] + [""] * (len(COLUMNS) - 4) + [repr(pair.seconds), pair.error]
    # repr keeps every float exactly, so the summary can stand in for the result records.
    return ([pair.name, pair.status] + [repr(float(c)) for c in r["range_polynomial"] + r["azimuth_polynomial"]]
            + [int(r[key]) for key in _COUNTS] + [repr(float(r["range_std"])), repr(float(r["azimuth_std"]))]
            + [repr(float(r[key])) if key in r else "" for key in COHERENCE_FIELDS]  # empty unless resampled
            + [repr(float(r[key])) if key in r else "" for key in DENSE_FIELDS]  # empty unless dense
            + [repr(pair.seconds), ""])


def write_summary(outdir, pairs):
    """OUTDIR/summary.csv: one row per pair (COLUMNS), in acquisition order."""
    path = os.path.join(outdir, SUMMARY_FILE)

    def write(temporary):
        with open(temporary, "w", newline="", encoding="utf-8") as stream:
            writer = csv.writer(stream)
            writer.writerow(COLUMNS)
            writer.writerows(_row(pair) for pair in pairs)

    write_atomically(path, write)
    return path


def _places(width, lines):
    """Scene centre and corners, as (label, x, y)."""
    right, bottom = max(width - 1, 0), max(lines - 1, 0)
    return [("centre", right / 2, bottom / 2), ("near first", 0, 0), ("far first", right, 0),
            ("near last", 0, bottom), ("far last", right, bottom)]


def acquisition_time(image):
    """The acquisition start of an image (its XML's rawDataStartTime, ISO 8601) in UTC without a
    zone, or None when it gives none."""
    from ._core import read_image_parameters

    try:
        text = read_image_parameters(image).raw_data_start_time.strip()
        time = datetime.datetime.fromisoformat(text.replace("Z", "+00:00"))
    except (Error, ValueError):
        return None
    return time if time.tzinfo is None else time.astimezone(datetime.timezone.utc).replace(tzinfo=None)


def acquisition_times(pairs):
    """Each pair's slave acquisition start, or None when any slave's XML does not give one."""
    times = [acquisition_time(pair.slave) for pair in pairs]
    return None if not times or None in times else times


def overview_data(pairs):
    """Per pair (NaN when it failed): fitted offsets at the centre and corners, and the std devs;
    "times": the slaves' acquisition starts, or None when not every XML gives one."""
    n = len(pairs)
    data = {"times": acquisition_times(pairs), "range": np.full((5, n), np.nan),
            "azimuth": np.full((5, n), np.nan), "range_std": np.full(n, np.nan), "azimuth_std": np.full(n, np.nan)}
    data.update({key: np.full(n, np.nan) for key in COHERENCE_FIELDS})
    data.update({key: np.full(n, np.nan) for key in DENSE_FIELDS})
    labels = [label for label, _, _ in _places(1, 1)]
    for i, pair in enumerate(pairs):
        if pair.status != "ok":
            continue
        r = pair.record
        for j, (_, x, y) in enumerate(_places(r["image_width"], r["image_lines"])):
            data["range"][j, i] = evaluate_polynomial(r["range_polynomial"], x, y)
            data["azimuth"][j, i] = evaluate_polynomial(r["azimuth_polynomial"], x, y)
        data["range_std"][i], data["azimuth_std"][i] = r["range_std"], r["azimuth_std"]
        for key in COHERENCE_FIELDS + DENSE_FIELDS:
            data[key][i] = r.get(key, np.nan)
    return data, labels


def write_overview(outdir, pairs, size=(10, 9), dpi=100):
    """OUTDIR/overview.png: the pairs' offsets and std devs against acquisition date (order when the
    images do not give their dates), their mean coherence when resampled and their dense fields' figures
    when tracked; failed pairs in red."""
    data, labels = overview_data(pairs)
    times = data["times"]
    order = np.arange(len(pairs)) if times is None else np.array(times)
    resampled = bool(np.isfinite(data["coherence_after"]).any())
    panels = 3 + resampled + 3 * has_dense(data)
    figure = Figure(figsize=(size[0], size[1] * panels / 3), dpi=dpi, layout="constrained")
    FigureCanvasAgg(figure)
    axes = figure.subplots(panels, 1, sharex=True)
    for ax, name, unit in ((axes[0], "range", "samples"), (axes[1], "azimuth", "lines")):
        for j, label in enumerate(labels):
            ax.plot(order, data[name][j], marker="o", markersize=3, color=_COLOURS[j], label=label)
        ax.set_ylabel(f"fitted {name} offset ({unit})")
        ax.legend(fontsize="x-small", ncol=5, loc="best")
    axes[2].plot(order, data["range_std"], marker="o", color=_COLOURS[0], label="range (samples)")
    axes[2].plot(order, data["azimuth_std"], marker="s", color=_COLOURS[1], label="azimuth (lines)")
    axes[2].set_ylabel("std. dev. of the fit")
    axes[2].legend(fontsize="x-small")
    if resampled:
        _draw_coherence(axes[3], order, data)
    if has_dense(data):
        draw_dense(axes[-3:], order, data)
    failed = [i for i, pair in enumerate(pairs) if pair.status != "ok"]
    for ax in axes:
        for i in failed:
            ax.axvline(order[i], color="red", alpha=0.3, linewidth=6)
    _label_pairs(axes[-1], order, pairs, times is not None, bool(failed))
    figure.suptitle(f"{len(pairs) - len(failed)} of {len(pairs)} pairs co-registered")
    path = os.path.join(outdir, OVERVIEW_FILE)
    write_atomically(path, lambda temporary: figure.savefig(temporary, format="png", dpi=dpi))
    return path


def _label_pairs(axes, order, pairs, dated, any_failed):
    """Each pair's tick: its name, under its acquisition date when the images give one."""
    names = [pair.name for pair in pairs]
    if dated:
        names = [f"{t:%Y-%m-%d}\n{name}" for t, name in zip(order, names)]
    axes.set_xticks(order, names, rotation=90 if len(pairs) > 8 else 0, fontsize="small")
    axes.set_xlabel(("slave acquisition date" if dated else "pair, in acquisition order")
                    + (" (failed pairs in red)" if any_failed else ""))


def _draw_coherence(axes, order, data):
    axes.plot(order, data["coherence_after"], marker="o", color=_COLOURS[0], label="after co-registration")
    axes.plot(order, data["coherence_before"], marker="s", color=_COLOURS[1], label="coarse integer shift only")
    axes.set_ylim(0.0, 1.0)
    axes.set_ylabel("mean coherence")
    axes.legend(fontsize="x-small")
