"""GDAL import from Python: a real crop pair end to end, and the refusals."""

import os
from pathlib import Path

import numpy as np
import pytest

import finecoreg
from conftest import simulate_pair

DATA = Path(os.environ.get("FINECOREG_REAL_DATA", Path(__file__).parents[2] / ".." / "shared" / "data"))
WINNIPEG = DATA / "winnipeg" / "winnipeg_freqA_HH.slc"


@pytest.mark.skipif(not WINNIPEG.exists(), reason="real SLC data not present")
def test_crop_of_a_real_image_gives_back_its_integer_offset(tmp_path):
    # The slave is the master's own speckle cut 5 samples and 4 lines further
    # in: slave position = master position - (5, 4), exactly.
    pair = finecoreg.import_pair(WINNIPEG, WINNIPEG, tmp_path / "pair", window=(0, 0, 240, 240),
                                 slave_window=(5, 4, 235, 236))
    assert pair["estimated"] and pair["offset"] == (-5, -4)
    assert (pair["master"]["columns"], pair["master"]["rows"]) == (240, 240)
    result = finecoreg.coregister(pair["master"]["image"], pair["slave"]["image"],
                                  pair["offset_par"], window=(32, 32), grid=(4, 4),
                                  progress=None, log=tmp_path / "log.txt")
    assert result.accepted.sum() >= 8
    np.testing.assert_allclose(result.range_offset[result.accepted], -5.0, atol=0.1)
    np.testing.assert_allclose(result.azimuth_offset[result.accepted], -4.0, atol=0.1)
    assert finecoreg.qa_plot(result, tmp_path / "qa.png") and (tmp_path / "qa.png").stat().st_size > 0


def test_a_file_that_is_no_raster_is_refused_by_name(tmp_path):
    bogus = tmp_path / "notes.txt"
    bogus.write_text("not an image\n")
    out = tmp_path / "out"
    out.mkdir()
    with pytest.raises(finecoreg.Error, match="notes.txt") as caught:
        finecoreg.import_image(bogus, out / "image.slc")
    assert caught.value.file == str(bogus) and str(caught.value) == f"{bogus}: {caught.value.problem}"
    assert list(out.iterdir()) == []


@pytest.mark.parametrize("kwargs, error", [
    (dict(band=0), ValueError), (dict(band="1"), TypeError), (dict(window=(0, 0, 8)), TypeError)],
    ids=["band-zero", "band-text", "window-triple"])
def test_bad_arguments(tmp_path, kwargs, error):
    with pytest.raises(error):
        finecoreg.import_image(tmp_path / "in.tif", tmp_path / "out.slc", **kwargs)


def test_running_out_of_memory_is_an_error_naming_the_raster(tmp_path, monkeypatch):
    from finecoreg import _gdal

    def exhausted(*args):
        raise MemoryError("std::bad_alloc")

    monkeypatch.setattr(_gdal, "import_image", exhausted)
    with pytest.raises(finecoreg.Error, match=r"in\.tif: not enough memory") as caught:
        finecoreg.import_image(tmp_path / "in.tif", tmp_path / "out.slc")
    assert (caught.value.file, caught.value.problem) == (str(tmp_path / "in.tif"), "not enough memory to import this raster")


def _as_envi(image, width, lines):
    """Lets GDAL read a raw FCOMPLEX image of the simulator through an ENVI header beside it."""
    image.with_suffix(".hdr").write_text(
        f"ENVI\nsamples = {width}\nlines = {lines}\nbands = 1\nheader offset = 0\n"
        "file type = ENVI Standard\ndata type = 6\ninterleave = bsq\nbyte order = 0\n")
    return image


def test_coarse_offset_of_unrelated_images_is_refused_and_of_a_pair_accepted(tmp_path):
    one = simulate_pair(tmp_path / "one", width=256, lines=256, range_poly="3.2", azimuth_poly="-2.1", seed=1)
    other = simulate_pair(tmp_path / "other", width=256, lines=256, seed=2)
    master = _as_envi(one.master, 256, 256)
    pair = finecoreg.import_pair(master, _as_envi(one.slave, 256, 256), tmp_path / "related")
    assert pair["estimated"] and pair["offset"] == (3, -2)

    out = tmp_path / "unrelated"
    with pytest.raises(finecoreg.Error, match=r"next peak.*offset="):
        finecoreg.import_pair(master, _as_envi(other.master, 256, 256), out)
    assert not out.exists() or list(out.iterdir()) == []


def test_ctrl_c_stops_an_import_within_a_block_and_leaves_nothing(tmp_path):
    import signal
    import threading
    import time
    lines, width = 4096, 2048  # 64 MiB, read in blocks of 8 MiB
    np.zeros((lines, width), np.complex64).tofile(tmp_path / "raw.slc")
    (tmp_path / "raw.vrt").write_text(
        f'<VRTDataset rasterXSize="{width}" rasterYSize="{lines}"><VRTRasterBand dataType="CFloat32" band="1" '
        'subClass="VRTRawRasterBand"><SourceFilename relativeToVRT="1">raw.slc</SourceFilename>'
        f'<ImageOffset>0</ImageOffset><PixelOffset>8</PixelOffset><LineOffset>{8 * width}</LineOffset>'
        '<ByteOrder>LSB</ByteOrder></VRTRasterBand></VRTDataset>')
    out = tmp_path / "out"
    out.mkdir()
    sent = time.monotonic()
    threading.Timer(0.02, signal.pthread_kill, (threading.main_thread().ident, signal.SIGINT)).start()
    with pytest.raises(KeyboardInterrupt):
        finecoreg.import_image(tmp_path / "raw.vrt", out / "image.slc")
    assert time.monotonic() - sent < 1.0
    assert os.listdir(out) == []


def test_without_gdal_the_package_imports_and_only_the_gdal_parts_say_what_is_missing(tmp_path, monkeypatch):
    import sys

    monkeypatch.setitem(sys.modules, "finecoreg._gdal", None)  # as if the module could not be loaded
    monkeypatch.delattr(finecoreg, "_gdal", raising=False)
    for call in (lambda: finecoreg.import_image(tmp_path / "in.tif", tmp_path / "out.slc"),
                 lambda: finecoreg.import_pair(tmp_path / "m.tif", tmp_path / "s.tif", tmp_path / "pair")):
        with pytest.raises(finecoreg.Error, match=r"needs GDAL, which this installation of finecoreg lacks"):
            call()
    master = np.ones((8, 8), np.complex64)
    assert finecoreg.interferogram(master, master, (2, 2))[1].shape == (4, 4)
