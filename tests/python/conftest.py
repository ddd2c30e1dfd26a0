"""Puts the package on sys.path (FINECOREG_PYTHONPATH, else <repo>/python) and builds synthetic results."""

import os
import sys
import types
from pathlib import Path

import numpy as np
import pytest

PYTHON_DIR = str(Path(os.environ.get("FINECOREG_PYTHONPATH") or Path(__file__).parents[2] / "python").resolve())
sys.path.insert(0, PYTHON_DIR)

from finecoreg import Result  # noqa: E402

RANGE_POLY = (3, 2, -1, 1, 1, -2)  # terms 1, x, y, x*y, x^2, y^2
AZIMUTH_POLY = (-4, 0, 1, -1, 0, 2)


def exact_poly(c, x, y):
    """The model in Python integers: exact, unlike any floating-point evaluation."""
    return c[0] + c[1] * x + c[2] * y + c[3] * x * y + c[4] * x * x + c[5] * y * y


@pytest.fixture
def python_dir():
    return PYTHON_DIR


@pytest.fixture
def synthetic():
    """A 3 x 4 grid measured as the integer model plus known quarter-sample perturbations.

    Positions (0, 0) and (2, 3) were not accepted (nothing measured), (1, 1)
    was accepted and culled. Every value is exact in float32.
    """
    x, y = np.array([10, 30, 50, 70]), np.array([20, 40, 60])
    range_pert = np.arange(12.0).reshape(3, 4) * 0.25 - 1.0
    azimuth_pert = -0.5 * range_pert
    range_pert[1, 1], azimuth_pert[1, 1] = 8.0, -6.0
    accepted = np.ones((3, 4), bool)
    accepted[0, 0] = accepted[2, 3] = False
    kept = accepted.copy()
    kept[1, 1] = False
    model = lambda c: np.array([[exact_poly(c, int(xj), int(yi)) for xj in x] for yi in y], float)
    measured = lambda c, pert: np.where(accepted, model(c) + pert, 0.0)
    result = Result(
        range_positions=x, azimuth_positions=y,
        range_offset=measured(RANGE_POLY, range_pert), azimuth_offset=measured(AZIMUTH_POLY, azimuth_pert),
        snr=np.where(accepted, 12.5, 0.0), accepted=accepted, kept=kept,
        range_polynomial=RANGE_POLY, azimuth_polynomial=AZIMUTH_POLY,
        range_errors=np.full(6, 1e-3), azimuth_errors=np.full(6, 2e-3), range_std=0.75, azimuth_std=0.375,
        accepted_count=10, kept_count=9, samples=12, passes=2, image_width=96, image_lines=80,
        paths={"master": "m.slc", "slave": "s.slc", "offset_par": "p.off", "fitted_offset_par": "p_new.off"})
    return types.SimpleNamespace(result=result, range_pert=range_pert, azimuth_pert=azimuth_pert,
                                 accepted=accepted, kept=kept)


TOOLS_DIR = Path(os.environ.get("FINECOREG_TOOLS_DIR", Path(PYTHON_DIR).parent / "tools"))


@pytest.fixture(scope="session")
def tools_dir():
    return TOOLS_DIR


def simulate_pair(directory, width=384, lines=384, range_poly="2.4,0.001", azimuth_poly="-1.3",
                  seed=1, coherence=0.8, more=()):
    """A simulated FCOMPLEX pair with known offsets, written by the project's simulator (more: further options)."""
    import subprocess
    subprocess.run([str(TOOLS_DIR / "slcsim" / "slcsim"), "--out-dir", str(directory),
                    "--width", str(width), "--lines", str(lines), "--range-poly", range_poly,
                    "--azimuth-poly", azimuth_poly, "--coherence", str(coherence), "--seed", str(seed), *more],
                   check=True, stdout=subprocess.DEVNULL)
    return types.SimpleNamespace(master=directory / "master.slc", slave=directory / "slave.slc",
                                 off=directory / "pair.off", truth=directory / "truth.off")


@pytest.fixture
def pair(tmp_path):
    return simulate_pair(tmp_path / "pair")
