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


@pytest.mark.parametrize("raised", [Stop("enough"), SystemExit(3)])
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
    after = listing(pair.off.parent)
    assert {p: after[p] for p in before} == before
    assert not (pair.off.parent / "pair_new.off").exists()


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
                                              ({"window": (64, -2**31 - 1)}, "window")])
def test_arguments_beyond_32_bits_are_a_value_error_naming_them(pair, kwargs, argument):
    with pytest.raises(ValueError, match=rf"^{argument} must be"):
        finecoreg.coregister(pair.master, pair.slave, pair.off, **kwargs)
