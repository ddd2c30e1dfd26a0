"""resample, interferogram, coherence_plot: files and arrays agree, failures name the file, the chain pays off."""

import os
import re
import signal
import subprocess
import sys
import threading
import time
import types

import numpy as np
import pytest

import finecoreg
from conftest import simulate_pair
from finecoreg.offset_file import read_offset_file
from finecoreg.resample import coarse_coherence, estimate_doppler, mean_coherence
from finecoreg.slc_image import image_info, read_lines
from finecoreg.stack_pair import coarse_offset_text

TRUE_RANGE, TRUE_AZIMUTH = "2.6,1e-3,-7e-4", "-1.8,-5e-4,1.2e-3"  # 2.6 .. 3.1 samples, -1.8 .. -1.6 lines


@pytest.fixture(scope="module")
def exact(tmp_path_factory):
    """A 256 x 256 pair at coherence 1.0, its true polynomials, and a fit that is the truth (fitted)."""
    pair = simulate_pair(tmp_path_factory.mktemp("exact"), width=256, lines=256, range_poly=TRUE_RANGE,
                         azimuth_poly=TRUE_AZIMUTH, coherence=1.0)
    pair.fitted = pair.truth.with_name("pair_new.off")  # the truth file holds no coarse offset
    pair.fitted.write_bytes(coarse_offset_text(pair.truth.read_bytes(), read_offset_file(pair.off).coarse))
    return pair


def listing(directory):
    return sorted(os.listdir(directory))


def test_files_and_arrays_agree_in_shape_values_and_geometry(exact, tmp_path):
    out = tmp_path / "resampled.slc"
    seen = []
    written = finecoreg.resample(exact.master, exact.slave, exact.truth, out=out, progress=seen.append, threads=3)
    assert (written["lines"], written["samples"], written["format"]) == (256, 256, "FCOMPLEX")
    assert seen and seen[-1] == pytest.approx(100.0)
    on_disk = read_lines(image_info(out))  # the XML beside it gives the master's size
    mask = np.fromfile(written["mask"], np.uint8).reshape(256, 256)
    assert written["masked"] == mask.sum() > 0 and not on_disk[mask == 1].any()

    doppler = written["doppler_centroid"]  # the arrays path told the same centroid does the same sums,
    array, array_mask = finecoreg.resample(exact.master, exact.slave, exact.truth, doppler=doppler,
                                           threads=1)  # on any number of threads
    np.testing.assert_array_equal(array, on_disk)
    np.testing.assert_array_equal(array_mask, mask == 1)
    truth = read_offset_file(exact.truth)
    from_arrays, _ = finecoreg.resample(np.zeros((256, 256), np.complex64), read_lines(image_info(exact.slave)),
                                        (truth.range_polynomial, truth.azimuth_polynomial), doppler=doppler)
    np.testing.assert_array_equal(from_arrays, on_disk)
    # With the true polynomials the resampled slave is the master where the kernel stayed inside.
    master = read_lines(image_info(exact.master))
    inside = mask == 0
    error = np.sum(np.abs(on_disk[inside] - master[inside]) ** 2) / np.sum(np.abs(master[inside]) ** 2)
    assert 10 * np.log10(error) < -30

    formed = finecoreg.interferogram(exact.master, out, looks=(4, 3), out_dir=tmp_path / "ifg")
    ifg, coherence = finecoreg.interferogram(master, on_disk, looks=(4, 3))
    assert coherence.shape == ifg.shape == (formed["lines"], formed["samples"]) == (64, 85)
    np.testing.assert_array_equal(np.fromfile(formed["coherence"], np.float32).reshape(64, 85), coherence)
    np.testing.assert_array_equal(np.fromfile(formed["interferogram"], np.complex64).reshape(64, 85), ifg)
    assert formed["mean_coherence"] == pytest.approx(mean_coherence(coherence))
    assert sum(formed["histogram"]) == np.count_nonzero(coherence > 0)  # cells holding signal


def test_the_slave_xml_centroid_is_taken_while_the_data_agree_and_the_datas_when_they_do_not(exact, tmp_path):
    slave = tmp_path / "slave.slc"
    slave.symlink_to(exact.slave)
    xml = exact.slave.with_suffix(".xml").read_text()
    assert "<dopplerCentroidCoefficients>0 0 0 0<" in xml and "<pulseRepetitionFrequency>0<" in xml

    def xml_centroid(hz, per_sample=0):  # at a pulse repetition frequency of 100 Hz; the data's centroid is 0
        slave.with_suffix(".xml").write_text(xml.replace("<dopplerCentroidCoefficients>0 0",
                                                         f"<dopplerCentroidCoefficients>{hz} {per_sample}")
                                             .replace("<pulseRepetitionFrequency>0<", "<pulseRepetitionFrequency>100<"))

    xml_centroid(2)
    written = finecoreg.resample(exact.master, slave, exact.truth, out=tmp_path / "out.slc", progress=None)
    assert (written["doppler_source"], written["doppler_centroid"]) == ("xml", pytest.approx(0.02))
    array, _ = finecoreg.resample(exact.master, slave, exact.truth)
    np.testing.assert_array_equal(array, finecoreg.resample(exact.master, slave, exact.truth, doppler=0.02)[0])
    assert np.any(array != finecoreg.resample(exact.master, slave, exact.truth, doppler="off")[0])
    slave.with_suffix(".xml").write_text(xml.replace("<dopplerCentroidCoefficients>0", "<dopplerCentroidCoefficients>30"))
    assert finecoreg.resample(exact.master, slave, exact.truth, out=tmp_path / "out.slc",  # no PRF: no XML centroid
                              progress=None)["doppler_source"] == "estimated"
    xml_centroid(2, 0.004)  # the range term followed: 0.02 at sample 0 to 0.0302 at sample 255
    written = finecoreg.resample(exact.master, slave, exact.truth, out=tmp_path / "out.slc", progress=None)
    assert (written["doppler_lowest"], written["doppler_highest"]) == (pytest.approx(0.02), pytest.approx(0.0302))
    assert written["doppler_description"] == "0.0200 to 0.0302 cycles/line (xml, following range)"
    np.testing.assert_array_equal(finecoreg.resample(exact.master, slave, exact.truth)[0],
                                  read_lines(image_info(written["output"])))
    xml_centroid(2, 2)  # 510 Hz at the far end: a centroid it cannot mean
    with pytest.raises(finecoreg.Error, match="range terms reach 510 Hz"):
        finecoreg.resample(exact.master, slave, exact.truth, out=tmp_path / "out.slc", progress=None)
    xml_centroid(30)  # a stale 0.3 cycles/line
    with pytest.warns(UserWarning, match="0.3000 cycles/line disagrees with the data's"):
        written = finecoreg.resample(exact.master, slave, exact.truth, out=tmp_path / "out.slc", progress=None)
    assert written["doppler_source"] == "estimated" and abs(written["doppler_centroid"]) < 0.01
    with pytest.warns(UserWarning, match="disagrees"):
        np.testing.assert_array_equal(finecoreg.resample(exact.master, slave, exact.truth)[0],
                                      finecoreg.resample(exact.master, slave, exact.truth,
                                                         doppler=written["doppler_centroid"])[0])
    for out in (tmp_path / "out2.slc", None):  # one range on every path: given, and from the XML
        for given in (0.7, -3.0, 1e300):
            with pytest.raises(ValueError, match="doppler must be within"):
                finecoreg.resample(exact.master, slave, exact.truth, out=out, doppler=given, progress=None)
        slave.with_suffix(".xml").write_text(xml.replace("<dopplerCentroidCoefficients>0", "<dopplerCentroidCoefficients>1e30")
                                             .replace("<pulseRepetitionFrequency>0<", "<pulseRepetitionFrequency>100<"))
        with pytest.raises(finecoreg.Error, match="centroid is 1e\\+30 Hz over a pulse repetition frequency of 100 Hz, "
                                                  "outside") as caught:
            finecoreg.resample(exact.master, slave, exact.truth, out=out, progress=None)
        assert caught.value.file == str(slave.with_suffix(".xml"))


def test_coarse_coherence_shifts_by_whole_samples_in_the_offset_direction():
    rng = np.random.default_rng(5)
    master = (rng.standard_normal((60, 80)) + 1j * rng.standard_normal((60, 80))).astype(np.complex64)
    slave = np.zeros_like(master)
    slave[2:, :77] = master[:-2, 3:]  # slave (x - 3, y + 2) holds master (x, y): offset (-3, 2)
    right = coarse_coherence(master, slave, (-3, 2), looks=(5, 5))
    assert right.shape == (12, 16)
    # Samples shifted off the slave are left out of the sums, so edge cells
    # hold the coherence of what overlaps.
    np.testing.assert_allclose(right, 1.0, rtol=1e-5)
    assert coarse_coherence(master, slave, (3, -2), looks=(5, 5)).mean() < 0.3


def test_doppler_estimate_is_the_azimuth_phase_step_in_cycles_per_line():
    rng = np.random.default_rng(2)
    noise = rng.standard_normal((300, 64)) + 1j * rng.standard_normal((300, 64))
    smooth = (noise[:-1] + noise[1:])[:299]  # correlated from line to line, so the lag-one sum has a phase
    ramp = np.exp(2j * np.pi * -0.23 * np.arange(299))[:, None]
    assert estimate_doppler((smooth * ramp).astype(np.complex64)) == pytest.approx(-0.23, abs=0.01)


def range_polynomial(text):
    def write(pair):
        pair.truth.write_text(re.sub(r"(range_offset_polynomial:).*", r"\1 " + text, pair.truth.read_text(), count=1))
    return write


@pytest.mark.parametrize("break_it, named, says", [
    (lambda p: p.slave.unlink(), "slave.slc", ""),
    (lambda p: os.truncate(p.slave, 1000), "slave.slc", ""),
    (lambda p: p.slave.with_suffix(".xml").unlink(), "slave.xml", ""),
    (lambda p: p.truth.unlink(), "truth.off", ""),
    (range_polynomial("2.4 0.0 0.0"), "truth.off", "range_offset_polynomial holds 3 coefficients, not 6"),
    (range_polynomial("1e5 0 0 0 0 0"), "truth.off", "range_offset_polynomial gives 100000 samples"),
], ids=["slave-missing", "slave-short", "slave-xml-missing", "offsets-missing", "three-term-polynomial",
        "offsets-beyond-the-images"])
def test_a_bad_input_raises_error_naming_it_in_both_paths_and_leaves_nothing(tmp_path, break_it, named, says):
    pair = simulate_pair(tmp_path / "pair", width=64, lines=64, range_poly="2.4", azimuth_poly="-1.3")
    break_it(pair)
    before = listing(pair.master.parent)
    for out in (pair.master.parent / "out.slc", None):  # the files path, then the arrays path
        with pytest.raises(finecoreg.Error, match=re.escape(says)) as caught:
            finecoreg.resample(pair.master, pair.slave, pair.truth, out=out, progress=None)
        assert os.path.basename(caught.value.file) == named
        assert listing(pair.master.parent) == before


def test_an_output_through_a_symlinked_directory_onto_the_slave_is_refused(tmp_path):
    pair = simulate_pair(tmp_path / "pair", width=64, lines=64, range_poly="2.4", azimuth_poly="-1.3")
    (tmp_path / "link").symlink_to(pair.slave.parent)
    slave, before = pair.slave.read_bytes(), listing(pair.slave.parent)
    with pytest.raises(finecoreg.Error, match="the resampled slave would overwrite the slave image") as caught:
        finecoreg.resample(pair.master, pair.slave, pair.truth, out=tmp_path / "link" / "slave.slc", progress=None)
    assert caught.value.file == str(tmp_path / "link" / "slave.slc")
    assert pair.slave.read_bytes() == slave and listing(pair.slave.parent) == before


@pytest.mark.parametrize("stop", ["callable-raises", "sigint"])
def test_an_interrupted_file_resample_stops_within_a_block_and_leaves_no_file(tmp_path, stop):
    pair = simulate_pair(tmp_path / "pair", width=512, lines=2048, range_poly="2.4", azimuth_poly="-1.3")
    out = tmp_path / "out"
    out.mkdir()
    seen, sent = [], []

    def progress(percent):
        seen.append(percent)
        if len(seen) == 3 and stop == "callable-raises":
            raise KeyboardInterrupt
        if len(seen) == 2 and stop == "sigint":  # a real Ctrl-C, while the library works without the GIL
            sent.append(time.monotonic())
            threading.Timer(0.02, signal.pthread_kill, (threading.main_thread().ident, signal.SIGINT)).start()

    with pytest.raises(KeyboardInterrupt):
        finecoreg.resample(pair.master, pair.slave, pair.truth, out=out / "r.slc", progress=progress, threads=1)
    assert 0 < seen[-1] < 50  # 32 blocks of 64 lines: it stopped at the block after
    if sent:
        assert time.monotonic() - sent[0] < 1.0
    assert listing(out) == []


def test_interferogram_of_images_of_different_sizes_names_the_odd_one(exact, tmp_path):
    small = simulate_pair(tmp_path / "small", width=128, lines=256, range_poly="2.4", azimuth_poly="-1.3")
    with pytest.raises(finecoreg.Error, match=re.escape(str(small.slave))):
        finecoreg.interferogram(exact.master, small.slave, out_dir=tmp_path / "ifg")
    assert not (tmp_path / "ifg").exists()
    with pytest.raises(ValueError, match="shape"):
        finecoreg.interferogram(np.zeros((8, 8), np.complex64), np.zeros((8, 9), np.complex64))
    with pytest.raises(ValueError, match="looks of 1000 x 5 leave no cell"):  # as the file path refuses
        finecoreg.interferogram(np.zeros((8, 8), np.complex64), np.zeros((8, 8), np.complex64), looks=(1000, 5))


@pytest.mark.parametrize("call, error", [
    (lambda p, o: finecoreg.resample(p, p, p, out=o, doppler="auto"), TypeError),
    (lambda p, o: finecoreg.resample(p, p, p, out=o, doppler=float("inf")), ValueError),
    (lambda p, o: finecoreg.resample(p, p, p, out=o, progress=42), TypeError),
    (lambda p, o: finecoreg.resample(p, p, p, out=o, threads="2"), TypeError),
    (lambda p, o: finecoreg.resample(p, p, p, out=o, threads=0), ValueError),
    (lambda p, o: finecoreg.resample(p, np.zeros((4, 4), np.complex64), p, out=o), TypeError),
    (lambda p, o: finecoreg.resample(p, p, ([0.0] * 5, [0.0] * 6)), ValueError),
    (lambda p, o: finecoreg.resample(p, p, (np.zeros(6), np.zeros(6)), out=o), TypeError),
    (lambda p, o: finecoreg.resample(p, p, 3.0), TypeError),
    (lambda p, o: finecoreg.interferogram(p, p, looks=(0, 5)), ValueError),
    (lambda p, o: finecoreg.interferogram(p, p, looks=(5.0, 5)), TypeError),
    (lambda p, o: finecoreg.interferogram(p, p, out_dir=o, geotiff="yes"), TypeError),
    (lambda p, o: finecoreg.coherence_plot(p, p, p, o.with_suffix(".jpg")), ValueError),
], ids=["doppler-word", "doppler-inf", "progress", "threads-word", "threads-zero", "array-to-file", "short-poly", "poly-to-file", "offsets-float",
        "looks-zero", "looks-float", "geotiff-word", "picture-format"])
def test_bad_arguments_are_refused_before_any_file_is_opened(tmp_path, call, error):
    # None of these paths exists: opening one would raise finecoreg.Error instead.
    with pytest.raises(error):
        call(tmp_path / "absent.slc", tmp_path / "out")
    assert listing(tmp_path) == []


def test_coherence_plot_draws_both_columns_and_tells_the_means(exact, tmp_path):
    path = tmp_path / "coherence.png"
    data = finecoreg.coherence_plot(exact.master, exact.slave, exact.fitted, path, looks=(4, 4), size=(6, 5))
    assert path.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n" and data["path"] == path
    assert data["after"].shape == data["before"].shape == (64, 64) and data["coarse"] == (3, -2)
    assert data["mean_after"] > 0.9 > data["mean_before"]
    signal = data["after"] != 0  # the slave's edge leaves cells without signal
    assert 0 < signal.sum() < signal.size and np.isnan(data["phase_after"][~signal]).all()
    assert np.abs(data["phase_after"][signal]).max() < 0.1  # one speckle field on both sides: no phase left


def run_cli(python_dir, *args):
    env = dict(os.environ, PYTHONPATH=python_dir)
    return subprocess.run([sys.executable, "-m", "finecoreg", *map(str, args)], capture_output=True, text=True,
                          env=env)


def coherence_figures(stdout):
    return [float(re.search(rf"mean coherence {when}: +([0-9.]+)", stdout).group(1)) for when in ("before", "after")]


def test_coregister_resample_runs_the_chain_and_the_coherence_rises(tmp_path, python_dir):
    pair = simulate_pair(tmp_path / "pair", width=512, lines=512, range_poly=TRUE_RANGE, azimuth_poly=TRUE_AZIMUTH,
                         coherence=1.0, seed=4)
    out = tmp_path / "out" / "resampled.slc"
    out.parent.mkdir()
    run = run_cli(python_dir, "coregister", pair.master, pair.slave, pair.off, "--grid", 16, 16, "--log",
                  tmp_path / "log", "--resample", out, "--looks", 5, 5, "--coherence-plot", tmp_path / "c.png")
    assert run.returncode == 0, run.stderr
    before, after = coherence_figures(run.stdout)
    assert after >= 0.9 and after > before + 0.1
    assert listing(out.parent) == ["resampled.slc", "resampled.slc.mask", "resampled.slc.mask.vrt",
                                   "resampled.slc.vrt", "resampled.xml", "resampled_ifg"]
    assert listing(out.parent / "resampled_ifg") == ["coherence", "coherence.vrt", "coherence.xml", "interferogram",
                                                     "interferogram.vrt", "interferogram.xml"]
    assert (tmp_path / "c.png").stat().st_size > 0

    again = run_cli(python_dir, "resample", pair.master, pair.slave, pair.off.with_name("pair_new.off"),
                    tmp_path / "again.slc", "--doppler", "off")
    assert again.returncode == 0, again.stderr
    assert coherence_figures(again.stdout) == pytest.approx([before, after], abs=2e-4)
    bad = run_cli(python_dir, "resample", pair.master, pair.slave, tmp_path / "none.off", tmp_path / "x.slc")
    assert bad.returncode == 1 and "none.off" in bad.stderr and not (tmp_path / "x.slc").exists()


@pytest.fixture(scope="module")
def tracked(exact, tmp_path_factory):
    """The exact pair's offset field as the dense offset tracker measures it, and its GeoTIFF."""
    tif = tmp_path_factory.mktemp("tracked") / "field.tif"
    return finecoreg.dense_offsets(exact.master, exact.slave, gross=(3, -2), window=(32, 32), out=tif,
                                   progress=None), tif


def _like(field, **changes):
    """Any object with a field's arrays will do; these with some changed."""
    names = ("range_offset", "azimuth_offset", "range_positions", "azimuth_positions")
    return types.SimpleNamespace(**{**{name: getattr(field, name) for name in names}, **changes})


def test_a_field_as_file_or_arrays_alone_or_on_top_resamples_as_the_polynomials_do(exact, tracked, tmp_path):
    field, tif = tracked
    by_polynomials, _ = finecoreg.resample(exact.master, exact.slave, exact.truth, doppler=0.0)
    by_arrays, mask = finecoreg.resample(exact.master, exact.slave, field=field, doppler=0.0)
    master = read_lines(image_info(exact.master))
    coherence = [mean_coherence(finecoreg.interferogram(master, image, looks=(5, 5))[1])
                 for image in (by_polynomials, by_arrays)]
    assert coherence[1] >= 0.99 and coherence[1] == pytest.approx(coherence[0], abs=0.002)
    written = finecoreg.resample(exact.master, exact.slave, out=tmp_path / "f.slc", field=tif, doppler=0.0, progress=None)
    np.testing.assert_array_equal(read_lines(image_info(written["output"])), by_arrays)  # the same field, the same sums
    np.testing.assert_array_equal(np.fromfile(written["mask"], np.uint8).reshape(mask.shape), mask)
    zero = _like(field, range_offset=np.zeros_like(field.range_offset), azimuth_offset=np.zeros_like(field.range_offset))
    on_top, _ = finecoreg.resample(exact.master, exact.slave, exact.truth, field=zero, doppler=0.0)
    np.testing.assert_array_equal(on_top, by_polynomials)


def test_fields_that_cannot_give_offsets_are_refused_clearly(exact, tracked, tmp_path):
    field, _ = tracked
    with pytest.raises(TypeError, match="fitted_off, a field or both"):
        finecoreg.resample(exact.master, exact.slave)
    with pytest.raises(TypeError, match="lacks azimuth_offset, range_positions, azimuth_positions"):
        finecoreg.resample(exact.master, exact.slave, field=types.SimpleNamespace(range_offset=field.range_offset))
    with pytest.raises(ValueError, match="evenly spaced"):
        finecoreg.resample(exact.master, exact.slave, field=_like(field, range_positions=field.range_positions ** 1.01))
    with pytest.raises(finecoreg.Error, match="^the offset field holds no trusted"):
        finecoreg.resample(exact.master, exact.slave, field=_like(field, range_offset=field.range_offset * np.nan))
    for out in (None, tmp_path / "far.slc"):
        with pytest.raises(finecoreg.Error, match="^the offset field gives .* beyond the images"):
            finecoreg.resample(exact.master, exact.slave, out=out, field=_like(field, range_offset=field.range_offset + 1e5),
                               progress=None)
    assert listing(tmp_path) == []


def test_a_non_finite_slave_sample_spoils_its_kernels_footprint_only_and_is_counted(exact, tmp_path):
    slave_path = tmp_path / "slave.slc"
    slave = read_lines(image_info(exact.slave)).copy()
    slave[100, 120] = np.nan
    slave.astype("<c8").tofile(slave_path)
    slave_path.with_suffix(".xml").write_bytes(exact.slave.with_suffix(".xml").read_bytes())
    out = tmp_path / "out.slc"
    written = finecoreg.resample(exact.master, slave_path, exact.fitted, out=out, progress=None)
    spoiled = ~np.isfinite(read_lines(image_info(out)))
    assert written["no_data"] == 1 and 0 < spoiled.sum() <= 12 * 12  # the resampler's 12 x 12 taps
    assert written["doppler_source"] == "estimated"  # the estimate ignores the sample as well
    formed = finecoreg.interferogram(exact.master, out, looks=(4, 4), out_dir=tmp_path / "ifg")
    assert formed["no_data"] == spoiled.sum() and np.isfinite(formed["mean_coherence"])
