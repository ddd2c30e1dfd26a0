"""finecoreg.dense_offsets and `python3 -m finecoreg offsets`: the arrays, and the GeoTIFF as GDAL reads it."""

import subprocess
import sys

import numpy as np
import pytest
from conftest import PYTHON_DIR, simulate_pair
from osgeo import gdal

import finecoreg

BANDS = [("range_offset", "samples"), ("azimuth_offset", "lines"), ("range_sigma", "samples"),
         ("azimuth_sigma", "lines"), ("snr", ""), ("peak", ""), ("mask", "")]


def test_arrays_match_the_geotiff_and_its_grid(tmp_path):
    pair = simulate_pair(tmp_path / "pair", width=256, lines=192, range_poly="1.3", azimuth_poly="-0.6",
                         coherence=0.9)
    field = finecoreg.dense_offsets(pair.master, pair.slave, gross=(1, -1), window=(32, 32), step=(24, 16),
                                    threads=2, progress=None, out=tmp_path / "f.tif", margin=3, fill=True)
    assert field.mask.shape == field.range_offset.shape == (len(field.azimuth_positions),
                                                            len(field.range_positions))
    assert field.range_positions[:2].tolist() == [19.0, 43.0]
    assert field.azimuth_positions[:2].tolist() == [19.0, 35.0]
    good = field.mask == 0
    assert good.sum() > 0.9 * good.size
    assert np.median(np.abs(field.range_offset[good] - 1.3)) < 0.03
    assert np.median(np.abs(field.azimuth_offset[good] + 0.6)) < 0.03

    d = gdal.Open(str(tmp_path / "f.tif"))
    assert d.RasterCount == 7
    for k, (name, unit) in enumerate(BANDS):
        band = d.GetRasterBand(k + 1)
        assert band.DataType == gdal.GDT_Float32
        assert band.GetDescription() == name
        assert band.GetUnitType() == unit
        np.testing.assert_array_equal(band.ReadAsArray(), getattr(field, name).astype(np.float32))
        if k < 6:
            assert np.isnan(band.GetNoDataValue())
    meta = d.GetMetadata()
    assert meta["MASK_VALUES"] == "0=good,1=no data,2=no peak,3=low snr,4=outlier,5=filled"
    assert [float(meta[k]) for k in ("FIRST_RANGE", "FIRST_AZIMUTH", "STEP_RANGE", "STEP_AZIMUTH")] == \
        [19.0, 19.0, 24.0, 16.0]
    assert d.GetGeoTransform() == (7.0, 24.0, 0.0, 11.0, 0.0, 16.0)


def test_gross_raster_and_command_line(tmp_path):
    pair = simulate_pair(tmp_path / "pair", width=256, lines=256, range_poly="6.2", azimuth_poly="5.7",
                         coherence=0.9)
    first = tmp_path / "first.tif"
    run = subprocess.run([sys.executable, "-m", "finecoreg", "offsets", str(pair.master), str(pair.slave),
                          str(first), "--gross", "6,6", "--window", "32", "32", "--step", "32", "32"],
                         env={"PYTHONPATH": PYTHON_DIR}, capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    assert "median sigma: 0.0" in run.stdout
    # The first field places the second pass's windows.
    again = finecoreg.dense_offsets(pair.master, pair.slave, gross=first, progress=None)
    good = again.mask == 0
    assert np.median(np.abs(again.range_offset[good] - 6.2)) < 0.03
    with pytest.raises(TypeError, match="gross"):
        finecoreg.dense_offsets(pair.master, pair.slave, gross=(1, "x"))
    with pytest.raises(finecoreg.Error, match="no window gave an offset"):
        finecoreg.dense_offsets(pair.master, pair.slave, gross=(400, 0), progress=None)


def test_the_coarse_pass_recovers_a_smooth_flow_of_twelve_samples_without_gross_offsets(tmp_path):
    """A vortex reaching 12 samples (range into azimuth), tracked with 32 x 32 windows: the coarse pass's
    field places each fine window (median error 0.03 where the flow exceeds 8 samples, 0.12 without it)."""
    pair = simulate_pair(tmp_path, width=1024, lines=1024, range_poly="0", azimuth_poly="0", coherence=0.9,
                         more=("--flow", "12", "--truth-field", str(tmp_path / "truth.raw")))
    truth = np.fromfile(tmp_path / "truth.raw", "<f4", offset=16).reshape(2, 1024, 1024)
    field = finecoreg.dense_offsets(pair.master, pair.slave, window=(32, 32), step=(32, 32), coarse_pass=True,
                                    progress=None)
    x, y = np.meshgrid(np.rint(field.range_positions).astype(int), np.rint(field.azimuth_positions).astype(int))
    strong = (np.hypot(truth[0][y, x], truth[1][y, x]) > 8) & (field.mask == 0)
    assert strong.sum() > 400
    for measured, true in ((field.range_offset, truth[0]), (field.azimuth_offset, truth[1])):
        assert np.median(np.abs(measured - true[y, x])[strong]) <= 0.05


def test_windows_without_slave_data_are_no_data_and_filled_ones_carry_an_inflated_sigma(tmp_path):
    from finecoreg.slc_image import image_info, read_lines

    pair = simulate_pair(tmp_path / "pair", width=384, lines=384, range_poly="1.3", azimuth_poly="-0.6",
                         coherence=0.9)
    slave = read_lines(image_info(pair.slave)).copy()
    rng = np.random.default_rng(2)
    noise = (rng.standard_normal((112, 112)) + 1j * rng.standard_normal((112, 112))) * np.abs(slave).mean()
    slave[48:160, 48:160] = noise  # uncorrelated: rejected, then filled
    slave[256:352, 256:352] = 0  # the slave alone holds no data there
    changed = tmp_path / "slave.slc"
    slave.astype("<c8").tofile(changed)
    changed.with_suffix(".xml").write_bytes(pair.slave.with_suffix(".xml").read_bytes())
    field = finecoreg.dense_offsets(pair.master, changed, gross=(1, -1), window=(32, 32), step=(16, 16),
                                    progress=None, fill=True)
    x, y = np.meshgrid(field.range_positions, field.azimuth_positions)
    assert (field.mask[(x > 272) & (x < 336) & (y > 272) & (y < 336)] == 1).all()
    filled = field.mask == 5
    assert filled.sum() > 10
    good = np.argwhere(field.mask == 0)
    for band, sigma in ((field.range_sigma, field.median_sigma()[0]), (field.azimuth_sigma, field.median_sigma()[1])):
        for cell in np.argwhere(filled):
            distance = np.abs(good - cell).max(axis=1).min()  # cells to the nearest good window
            assert band[tuple(cell)] == pytest.approx(sigma * (1 + distance), rel=1e-5)
