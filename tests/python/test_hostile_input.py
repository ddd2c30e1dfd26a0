"""Hostile input to coregister and stack: a clear refusal, and the files as they were."""

import os
import signal
import subprocess
import sys
import time

import pytest

import finecoreg
from conftest import simulate_pair


def listing(directory):
    return {p: p.read_bytes() for p in directory.iterdir()}


@pytest.mark.parametrize("overwrite", [False, True])
def test_a_fit_from_fewer_than_six_estimates_is_refused_and_withdrawn(pair, overwrite):
    before = listing(pair.off.parent)
    with pytest.raises(finecoreg.Error, match=r"kept 0 offset estimates; it needs at least 6"):
        finecoreg.coregister(pair.master, pair.slave, pair.off, grid=(1, 1), progress=None,
                             overwrite=overwrite, log=os.devnull)
    assert listing(pair.off.parent) == before


class Stop(Exception):
    pass


@pytest.mark.parametrize("raised", [Stop("enough"), SystemExit(3), KeyboardInterrupt()])
def test_a_progress_callable_that_raises_stops_the_run_and_its_exception_comes_out(pair, raised):
    before = listing(pair.off.parent)
    calls = []

    def progress(percent):
        calls.append(percent)
        if len(calls) == 3:
            raise raised

    with pytest.raises(type(raised)) as caught:
        finecoreg.coregister(pair.master, pair.slave, pair.off, grid=(8, 8), progress=progress,
                             log=os.devnull)
    assert caught.value is raised
    assert len(calls) == 3  # not called again: the run stopped at the next position
    assert listing(pair.off.parent) == before  # no fit, no work files


def test_a_window_larger_than_the_image_is_said_before_the_run(tmp_path, tools_dir):
    p = simulate_pair(tmp_path / "small", width=128, lines=128)
    before = listing(p.off.parent)
    with pytest.raises(finecoreg.Error, match=r"Window of 256 x 256 is larger than the master "
                                              r"image of 128 x 128"):
        finecoreg.coregister(p.master, p.slave, p.off, window=(256, 256), progress=None)
    tool = subprocess.run([str(tools_dir / "finecoreg" / "finecoreg"), "--master", str(p.master),
                           "--slave", str(p.slave), "--off", str(p.off), "--window-width", "256",
                           "--window-height", "256", "--quiet"], capture_output=True, text=True)
    assert (tool.returncode, tool.stdout) == (1, "")
    assert "is larger than the master image of 128 x 128" in tool.stderr
    assert listing(p.off.parent) == before


@pytest.mark.parametrize("kwargs, argument", [({"grid": (2**31, 2**31)}, "grid"),
                                              ({"window": (64, -2**31 - 1)}, "window"),
                                              ({"threads": 2**31}, "threads")])
def test_arguments_beyond_32_bits_are_a_value_error_naming_them(pair, kwargs, argument):
    with pytest.raises(ValueError, match=rf"^{argument} must be"):
        finecoreg.coregister(pair.master, pair.slave, pair.off, **kwargs)


def stack_command(p, out, *slaves):
    return [sys.executable, "-m", "finecoreg", "stack", str(p.master), *map(str, slaves), "-o", str(out),
            "--off", str(p.off), "--grid", "8", "8", "--workers", "1"]


def test_a_second_stack_on_a_busy_output_directory_refuses_at_once(pair, tmp_path, python_dir):
    import fcntl
    from finecoreg.stack import LOCK_FILE, stack

    out = tmp_path / "out"
    out.mkdir()
    (out / "a_slave").mkdir()  # the first run's work, which the second must not touch
    with open(out / LOCK_FILE, "a") as held:
        fcntl.flock(held, fcntl.LOCK_EX)  # as a running stack holds it
        before = sorted(out.rglob("*"))
        started = time.monotonic()
        with pytest.raises(finecoreg.Error, match=r"another stack is running on .*out"):
            stack(pair.master, [pair.slave], out, off=pair.off, grid=(8, 8), progress=None)
        tool = subprocess.run(stack_command(pair, out, pair.slave), capture_output=True, text=True,
                              env=dict(os.environ, PYTHONPATH=python_dir))
        assert time.monotonic() - started < 10
    assert tool.returncode == 1 and tool.stderr.count("\n") == 1
    assert "another stack is running on" in tool.stderr
    assert sorted(out.rglob("*")) == before


def test_sigint_of_a_stack_says_how_far_it_got_in_one_line(pair, tmp_path, python_dir):
    out = tmp_path / "out"
    slaves = [pair.slave] * 1 + [simulate_pair(tmp_path / f"s{i}").slave for i in range(2)]
    driver = subprocess.Popen(stack_command(pair, out, *slaves), stdout=subprocess.DEVNULL,
                              stderr=subprocess.PIPE, text=True, env=dict(os.environ, PYTHONPATH=python_dir))
    deadline = time.monotonic() + 120
    while not (out / "pair_slave").exists() and time.monotonic() < deadline:
        time.sleep(0.05)
    driver.send_signal(signal.SIGINT)
    _, err = driver.communicate(timeout=60)
    assert driver.returncode == 130
    assert "Traceback" not in err
    assert err.splitlines()[-1].endswith("pairs done, rerun to resume")
    assert err.splitlines()[-1].startswith("interrupted; ")
