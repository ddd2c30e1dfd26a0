"""offsets_plot: what each panel shows, from a result or from its GeoTIFF, and the verbs that draw it."""

import os
import subprocess
import sys

import numpy as np
import pytest
from conftest import simulate_pair
from matplotlib.image import imread

import finecoreg
from finecoreg import DenseOffsets, offsets_plot, offsets_plot_data


def field_of(rows=30, columns=40):
    """A field on a grid from (16, 24) by (8, 4) whose range offset grows along range; a wild good window."""
    range_offset = np.tile(2.0 + 0.01 * np.arange(columns, dtype=np.float32), (rows, 1))
    range_offset[5, 7] = 50.0
    mask = np.zeros((rows, columns), np.uint8)
    mask[0, :] = 1
    mask[3, 4:10] = 5
    mask[-1, -3:] = [2, 3, 4]
    range_offset[(mask != 0) & (mask != 5)] = np.nan
    azimuth_offset = np.where(np.isnan(range_offset), np.nan, -1.5).astype(np.float32)
    sigma = np.where(mask == 0, 0.02, np.nan).astype(np.float32)
    fields = {"range_offset": range_offset, "azimuth_offset": azimuth_offset, "range_sigma": sigma,
              "azimuth_sigma": 2 * sigma, "snr": np.full((rows, columns), 9.0, np.float32),
              "peak": np.full((rows, columns), 0.5, np.float32), "mask": mask, "grid": (16.0, 24.0, 8.0, 4.0)}
    return DenseOffsets(fields, None, window=(32, 16), snr_min=6.0)


def test_panels_are_centred_on_the_good_median_and_arrows_sample_the_grid():
    field = field_of()
    data = offsets_plot_data(field)
    assert data["extent"] == (12.0, 16.0 + 39 * 8 + 4, 24.0 + 29 * 4 + 2, 22.0)
    good = field.mask == 0
    assert data["range_median"] == pytest.approx(np.median(field.range_offset[good]))
    low, high = data["range_limits"]
    assert (low + high) / 2 == pytest.approx(data["range_median"])
    assert high < 10  # the wild window does not set the scale
    assert data["azimuth_median"] == -1.5
    np.testing.assert_array_equal(data["magnitude"], np.hypot(field.range_offset, field.azimuth_offset))
    arrows = data["arrows"]
    assert arrows["stride"] == 3
    assert arrows["x"].tolist() == (16.0 + 8 * np.arange(1, 40, 3)).tolist()
    assert arrows["y"].tolist() == (24.0 + 4 * np.arange(1, 30, 3)).tolist()
    np.testing.assert_array_equal(arrows["range"], field.range_offset[1::3, 1::3])
    assert data["counts"] == {"good": 1151, "no data": 40, "no peak": 1, "low snr": 1, "outlier": 1, "filled": 6}
    assert data["median_sigma"] == pytest.approx((0.02, 0.04))
    assert (data["window"], data["step"], data["snr_min"]) == ((32, 16), (8.0, 4.0), 6.0)


def test_a_tracked_field_draws_alike_from_its_geotiff_and_from_the_command_line(tmp_path, python_dir):
    pair = simulate_pair(tmp_path / "pair", width=256, lines=192, range_poly="1.3", azimuth_poly="-0.6")
    tif = tmp_path / "f.tif"
    field = finecoreg.dense_offsets(pair.master, pair.slave, gross=(1, -1), window=(32, 32), step=(24, 16),
                                    threads=2, progress=None, out=tif, fill=True)
    assert offsets_plot(field, tmp_path / "a.png") == tmp_path / "a.png"
    assert imread(tmp_path / "a.png").shape[:2] == (900, 1500)
    loaded = DenseOffsets.load(tif)
    for name in DenseOffsets.BANDS + ("range_positions", "azimuth_positions"):
        np.testing.assert_array_equal(getattr(loaded, name), getattr(field, name), err_msg=name)
    assert (loaded.window, loaded.snr_min, loaded.step) == (None, None, field.step)

    env = dict(os.environ, PYTHONPATH=python_dir)
    verb = lambda *args: subprocess.run([sys.executable, "-m", "finecoreg", *map(str, args)], env=env,
                                        capture_output=True, text=True)
    drawn = verb("plot", tif, tmp_path / "b.png", "--size", "6", "4")
    assert drawn.returncode == 0 and imread(tmp_path / "b.png").shape[:2] == (400, 600), drawn.stderr
    tracked = verb("offsets", pair.master, pair.slave, tmp_path / "c.tif", "--plot", tmp_path / "c.png")
    assert tracked.returncode == 0 and "offsets picture:" in tracked.stdout, tracked.stderr
    refused = verb("offsets", pair.master, pair.slave, tmp_path / "d.tif", "--plot", pair.master)
    assert refused.returncode == 1 and "master" in refused.stderr and not (tmp_path / "d.tif").exists()
    from osgeo import gdal

    gdal.GetDriverByName("GTiff").Create(str(tmp_path / "two.tif"), 4, 3, 2, gdal.GDT_Float32).FlushCache()
    with pytest.raises(finecoreg.Error, match="two.tif: not a dense offset field: no band range_offset"):
        offsets_plot(tmp_path / "two.tif", tmp_path / "e.png")
