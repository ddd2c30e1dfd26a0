"""The dense offset field of each pair of a stack: its GeoTIFF, its picture, and the figures the summary keeps."""

import os

import numpy as np

DENSE_FILE = "offsets.tif"
DENSE_PICTURE = "offsets.png"
# Per pair: the share of good windows, the median sigma and the median offset of the good windows.
DENSE_FIELDS = ("dense_good_fraction", "dense_range_sigma", "dense_azimuth_sigma", "dense_range_offset",
                "dense_azimuth_offset")


def dense_figures(field):
    """The DENSE_FIELDS of a DenseOffsets, as a dict."""
    range_sigma, azimuth_sigma = field.median_sigma()
    return {"dense_good_fraction": field.counts()["good"] / field.mask.size, "dense_range_sigma": range_sigma,
            "dense_azimuth_sigma": azimuth_sigma, "dense_range_offset": field.good_median(field.range_offset),
            "dense_azimuth_offset": field.good_median(field.azimuth_offset)}


def dense_pair(task, master, slave, fitted_off, workdir):
    """Tracks the pair's field into workdir, its windows placed by the fit, and draws it; its figures."""
    from .offsets import dense_offsets
    from .offsets_plot import offsets_plot

    field = dense_offsets(master, slave, gross=fitted_off, window=tuple(task.dense_window),
                          step=tuple(task.dense_step), threads=task.threads, progress=None,
                          out=os.path.join(workdir, DENSE_FILE))
    offsets_plot(field, os.path.join(workdir, DENSE_PICTURE))
    return dense_figures(field)


def dense_complete(directory, record):
    """Whether a pair's record and directory hold its dense field, picture and figures."""
    return all(key in record for key in DENSE_FIELDS) and all(
        os.path.isfile(os.path.join(directory, name)) for name in (DENSE_FILE, DENSE_PICTURE))


def has_dense(data):
    """Whether overview data (per-pair arrays of DENSE_FIELDS) holds any dense figure."""
    return bool(np.isfinite(data["dense_good_fraction"]).any())


def draw_dense(axes, order, data):
    """Three overview panels against acquisition order: good fraction, median sigma, median offset."""
    axes[0].plot(order, data["dense_good_fraction"], marker="o", color="tab:green")
    axes[0].set_ylim(0.0, 1.05)
    axes[0].set_ylabel("dense: good windows\n(fraction)")
    for ax, kind in ((axes[1], "sigma"), (axes[2], "offset")):
        ax.plot(order, data[f"dense_range_{kind}"], marker="o", color="tab:blue", label="range (samples)")
        ax.plot(order, data[f"dense_azimuth_{kind}"], marker="s", color="tab:orange", label="azimuth (lines)")
        ax.set_ylabel(f"dense: median {kind}\nof good windows")
        ax.legend(fontsize="x-small")
