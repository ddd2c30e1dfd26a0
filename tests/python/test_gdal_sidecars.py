"""Every raw raster the package and the tool write opens in GDAL through its VRT with the values our readers see."""

import shutil
import subprocess

import numpy as np
import pytest

import finecoreg
from conftest import TOOLS_DIR
from finecoreg.slc_image import image_info, read_lines

gdal = pytest.importorskip("osgeo.gdal")
gdal.UseExceptions()


def simulated(directory, sample_format):
    subprocess.run([str(TOOLS_DIR / "slcsim" / "slcsim"), "--out-dir", str(directory), "--width", "150",
                    "--lines", "100", "--format", sample_format, "--range-poly", "2.6,1e-3",
                    "--azimuth-poly", "-1.8,0,1e-3"], check=True, stdout=subprocess.DEVNULL)
    return directory / "master.slc", directory / "slave.slc", directory / "truth.off"


def band_of(vrt):
    dataset = gdal.Open(str(vrt))
    return dataset, dataset.GetRasterBand(1)  # a band outlived by its dataset crashes GDAL


def slc_values(band):
    """SCOMPLEX counts x 0.001 in double precision, rounded to single, as our decoder takes them."""
    return (band.ReadAsArray().astype(np.complex128) * band.GetScale()).astype(np.complex64)


@pytest.mark.parametrize("sample_format", ["FCOMPLEX", "SCOMPLEX"])
def test_python_writers_vrts_give_the_values_mask_and_no_data_of_the_rasters(tmp_path, sample_format):
    out_dir = tmp_path / "gis"
    master, slave, off = simulated(out_dir, sample_format)
    out = out_dir / "<r&s>.slc"  # the VRT names its raster in XML text, relative to itself
    written = finecoreg.resample(master, slave, off, out=out, progress=None)
    assert (written["vrt"], written["mask_vrt"]) == (f"{out}.vrt", f"{out}.mask.vrt")

    dataset, band = band_of(written["vrt"])
    assert (dataset.RasterXSize, dataset.RasterYSize) == (150, 100)
    assert gdal.GetDataTypeName(band.DataType) == {"FCOMPLEX": "CFloat32", "SCOMPLEX": "CInt16"}[sample_format]
    ours = np.asarray(read_lines(image_info(written["output"])))
    np.testing.assert_array_equal(slc_values(band), ours)
    mask = np.fromfile(written["mask"], np.uint8).reshape(100, 150)
    assert 0 < mask.sum() < mask.size
    np.testing.assert_array_equal(band.GetMaskBand().ReadAsArray(), np.where(mask == 1, 0, 255))
    mask_dataset, mask_band = band_of(written["mask_vrt"])
    np.testing.assert_array_equal(mask_band.ReadAsArray(), mask)

    # Imported back through its VRT: the same samples, and a VRT of its own that reads them.
    imported = finecoreg.import_image(written["vrt"], out_dir / "imported.slc")
    np.testing.assert_array_equal(read_lines(image_info(imported["image"])), ours)
    dataset, band = band_of(imported["vrt"])
    np.testing.assert_array_equal(slc_values(band), ours)

    formed = finecoreg.interferogram(master, written["output"], looks=(5, 3), out_dir=out_dir / "ifg", progress=None)
    ifg, coherence = finecoreg.interferogram(master, written["output"], looks=(5, 3))
    for path, expected in ((formed["interferogram"], ifg), (formed["coherence"], coherence)):
        dataset, band = band_of(path + ".vrt")
        assert (dataset.RasterYSize, dataset.RasterXSize) == expected.shape == (20, 50)
        assert band.GetNoDataValue() == 0.0 and "5 x 3 looks" in band.GetDescription()
        np.testing.assert_array_equal(band.ReadAsArray(), expected)


def test_tool_outputs_open_in_gdalinfo_and_a_failed_run_leaves_no_vrt(tmp_path):
    master, slave, off = simulated(tmp_path, "FCOMPLEX")
    tool = TOOLS_DIR / "resample" / "finecoreg-resample"
    run = subprocess.run([tool, master, slave, off, tmp_path / "res.slc", "--interferogram", tmp_path, "--quiet"],
                         capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    if shutil.which("gdalinfo"):
        for name, description in (("res.slc", "resampled onto the master grid"), ("res.slc.mask", "mask"),
                                  ("interferogram", "interferogram"), ("coherence", "coherence")):
            info = subprocess.run(["gdalinfo", tmp_path / (name + ".vrt")], capture_output=True, text=True)
            assert info.returncode == 0 and "Size is" in info.stdout and description in info.stdout, info.stderr

    # The output's VRT would be the slave: refused before anything is written.
    shutil.copy(slave, tmp_path / "other.slc.vrt")
    shutil.copy(tmp_path / "slave.xml", tmp_path / "other.slc.xml")
    before = sorted(p.name for p in tmp_path.iterdir())
    with pytest.raises(finecoreg.Error, match=r"other\.slc\.vrt"):
        finecoreg.resample(master, tmp_path / "other.slc.vrt", off, out=tmp_path / "other.slc", progress=None)
    assert sorted(p.name for p in tmp_path.iterdir()) == before
