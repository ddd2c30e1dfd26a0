"""coregister: the same files as the plug-in's tool, the record matching them, and its failures."""

import os
import re
import shutil
import subprocess
import sys

import numpy as np
import pytest

import finecoreg
from conftest import simulate_pair

GRID = (12, 10)


@pytest.mark.parametrize("name", ["finecoreg", "slcsim", "finecoreg-resample", "finecoreg-import"])
def test_every_tool_shows_its_help_and_version(tools_dir, name):
    h, v = (subprocess.run([next(tools_dir.glob(f"*/{name}")), f], capture_output=True) for f in ("-h", "--version"))
    assert (h.returncode, v.returncode, h.stderr + v.stderr) == (0, 0, b"") and f"\nUsage: {name} ".encode() in h.stdout
    assert re.fullmatch(rf"{name} \d+\.\d+\.\d+\n".encode(), v.stdout), v.stdout


def test_same_files_as_the_tool_and_record_matches_work_files(tmp_path, tools_dir):
    by_tool = simulate_pair(tmp_path / "tool")
    by_python = simulate_pair(tmp_path / "python")
    assert subprocess.run([tools_dir / "finecoreg" / "finecoreg", "--master", by_tool.master, "--slave", by_tool.slave,
                           "--off", by_tool.off, "--range-samples", str(GRID[0]), "--azimuth-samples", str(GRID[1]),
                           "--quiet"], stdout=subprocess.DEVNULL).returncode == 0
    seen = []
    r = finecoreg.coregister(by_python.master, by_python.slave, by_python.off, grid=GRID,
                             progress=seen.append, log=tmp_path / "log.txt", keep_work_files=True)
    for name in ("pair.off", "pair_new.off"):
        assert (by_tool.off.parent / name).read_bytes() == (by_python.off.parent / name).read_bytes()

    shape = (GRID[1], GRID[0])
    offsets = np.fromfile(r.paths["offsets"], np.float32).reshape(*shape, 2)
    snr = np.fromfile(r.paths["snr"], np.float32).reshape(shape)
    culled = np.fromfile(r.paths["culled_offsets"], np.float32).reshape(*shape, 2)
    np.testing.assert_array_equal(r.range_offset, offsets[..., 0])
    np.testing.assert_array_equal(r.azimuth_offset, offsets[..., 1])
    np.testing.assert_array_equal(r.snr, snr)
    np.testing.assert_array_equal(r.kept, culled[..., 0] != 0)
    assert r.kept_count == r.kept.sum() <= r.accepted_count == r.accepted.sum()
    assert r.samples == GRID[0] * GRID[1] and r.image_width == 384
    assert r.range_positions[0] == 48 and r.azimuth_positions[0] == 48
    assert "final solution" in (tmp_path / "log.txt").read_text()
    assert len(seen) == r.samples and seen == sorted(seen) and 0 < seen[0] < 1 < seen[-1] < 100
    # The fit recovers the simulated offsets (range 2.4 + 0.001 x, azimuth -1.3).
    fitted_range, fitted_azimuth = r.evaluate(np.array([0.0, 383.0]), np.array([0.0, 383.0]))
    np.testing.assert_allclose(fitted_range, [2.4, 2.783], atol=0.05)
    np.testing.assert_allclose(fitted_azimuth, [-1.3, -1.3], atol=0.05)


@pytest.mark.parametrize("kwargs, error", [
    (dict(window=(48, 64)), ValueError),
    (dict(window=(64, 64, 64)), TypeError),
    (dict(grid=(0, 32)), ValueError),
    (dict(grid=(32.0, 32)), TypeError),
    (dict(snr_threshold=float("nan")), ValueError),
    (dict(snr_threshold="7"), TypeError),
    (dict(overwrite=1), TypeError),
    (dict(progress=42), TypeError),
    (dict(threads=0), ValueError),
    (dict(threads=2.0), TypeError),
], ids=["window-not-power-of-two", "window-triple", "grid-zero", "grid-float", "snr-nan",
        "snr-text", "overwrite-int", "progress-not-callable", "threads-zero", "threads-float"])
def test_bad_arguments_are_refused_before_anything_is_touched(pair, kwargs, error):
    before = sorted(os.listdir(pair.off.parent)), pair.off.read_bytes()
    with pytest.raises(error):
        finecoreg.coregister(pair.master, pair.slave, pair.off, **kwargs)
    assert (sorted(os.listdir(pair.off.parent)), pair.off.read_bytes()) == before


def test_any_number_of_threads_gives_the_files_and_result_of_one(tmp_path):
    runs = {}
    for threads in (1, 3):
        p = simulate_pair(tmp_path / str(threads))
        seen = []
        r = finecoreg.coregister(p.master, p.slave, p.off, grid=GRID, progress=seen.append,
                                 log=tmp_path / f"log{threads}.txt", threads=threads)
        files = [(p.off.parent / name).read_bytes() for name in ("pair.off", "pair_new.off")]
        runs[threads] = r, seen, files, (tmp_path / f"log{threads}.txt").read_bytes()
    (one, seen1, files1, log1), (three, seen3, files3, log3) = runs[1], runs[3]
    assert files3 == files1 and log3 == log1 and seen3 == seen1
    for name in ("range_offset", "azimuth_offset", "snr", "accepted", "kept"):
        np.testing.assert_array_equal(getattr(three, name), getattr(one, name))
    assert finecoreg.run.default_threads() == len(os.sched_getaffinity(0))


def test_bad_path_type(pair):
    with pytest.raises(TypeError):
        finecoreg.coregister(42, pair.slave, pair.off)


def test_failed_run_raises_the_module_message_and_leaves_the_offset_file(pair):
    original = pair.off.read_bytes()
    with pytest.raises(finecoreg.Error, match="No offsets found above SNR threshold !"):
        finecoreg.coregister(pair.master, pair.slave, pair.off, grid=(4, 4), snr_threshold=1e9,
                             progress=None, log=os.devnull)
    os.truncate(pair.slave, pair.slave.stat().st_size - 8)  # the plug-in alone would zero-fill its end
    with pytest.raises(finecoreg.Error, match=r"slave\.slc: is short: .* samples need"):
        finecoreg.coregister(pair.master, pair.slave, pair.off, progress=None)
    pair.slave.unlink()
    with pytest.raises(finecoreg.Error, match=r"slave\.slc: slave image not found") as raised:
        finecoreg.coregister(pair.master, pair.slave, pair.off, progress=None)
    assert raised.value.file == str(pair.slave)
    assert pair.off.read_bytes() == original


def test_progress_callback_error_is_raised_after_the_run(pair):
    def broken(percent):
        raise KeyError("from the callback")
    with pytest.raises(KeyError, match="from the callback"):
        finecoreg.coregister(pair.master, pair.slave, pair.off, grid=(4, 4), progress=broken,
                             log=os.devnull)


def test_fatal_numerical_error_does_not_end_the_interpreter(tmp_path, pair):
    # Master lines of 2^28 samples in a sparse 128 GiB file: plausible for its
    # size, but the window rows it needs cannot be allocated, which ends a
    # plug-in host's process with the module's fatal message.
    huge = tmp_path / "huge.slc"
    with open(huge, "wb") as f:
        f.truncate(2**37)
    xml = pair.master.with_suffix(".xml").read_text()
    columns = xml.split("<numberOfColumns>")[1].split("<")[0]
    rows = xml.split("<numberOfRows>")[1].split("<")[0]
    huge.with_suffix(".xml").write_text(
        xml.replace(f"<numberOfColumns>{columns}<", f"<numberOfColumns>{2**28}<")
        .replace(f"<numberOfRows>{rows}<", "<numberOfRows>64<"))
    code = ("import sys, finecoreg\n"
            "try:\n"
            f"    finecoreg.coregister({str(huge)!r}, {str(pair.slave)!r}, {str(pair.off)!r}, progress=None)\n"
            "except finecoreg.Error as e:\n"
            "    print('raised:', e)\n"
            "print('alive')\n")
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, env=env)
    assert done.returncode == 0, done.stderr
    assert "raised: fatal numerical error" in done.stdout and "alive" in done.stdout


@pytest.mark.parametrize("lines, grid, held", [
    (80, (32, 4), ("y^2",)),             # every row within a 12-line band
    (112, (32, 1), ("y", "x*y", "y^2")),  # one row of positions
])
def test_terms_the_positions_do_not_determine_are_held_at_zero(tmp_path, lines, grid, held):
    from finecoreg.offset_file import read_offset_file
    pair = simulate_pair(tmp_path, width=512, lines=lines, range_poly="3.3", azimuth_poly="-1.2")
    r = finecoreg.coregister(pair.master, pair.slave, pair.off, grid=grid, progress=None, log=os.devnull)
    assert r.held_terms == held
    index = [("1", "x", "y", "x*y", "x^2", "y^2").index(t) for t in held]
    for poly, errors in ((r.range_polynomial, r.range_errors), (r.azimuth_polynomial, r.azimuth_errors)):
        assert not poly[index].any() and not errors[index].any()
    x, y = np.meshgrid(np.linspace(0, 511, 9), np.linspace(0, lines - 1, 9))
    fitted_range, fitted_azimuth = r.evaluate(x, y)
    assert np.abs(fitted_range - 3.3).max() < 0.1 and np.abs(fitted_azimuth + 1.2).max() < 0.1
    written = read_offset_file(r.paths["fitted_offset_par"])
    for ours, theirs in ((written.range_polynomial, r.range_polynomial),
                         (written.azimuth_polynomial, r.azimuth_polynomial)):
        assert not ours[index].any() and np.allclose(ours, theirs, rtol=1e-4, atol=1e-6)
    assert finecoreg.Result.from_dict(r.to_dict()).held_terms == held
