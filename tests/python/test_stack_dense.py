"""stack --dense: each pair's offset field and picture, its figures in the summary, resumed only when present."""

import csv
import os
import subprocess
import sys

import numpy as np
import pytest
from conftest import simulate_pair

from finecoreg import DenseOffsets
from finecoreg.result import evaluate_polynomial
from finecoreg.stack_pair import completed_record


def test_dense_writes_each_pairs_field_picture_and_figures(tmp_path, python_dir):
    sims = [simulate_pair(tmp_path / name, width=256, lines=256, range_poly=r, azimuth_poly=a)
            for name, r, a in (("a", "2.4,0.001", "-1.3"), ("b", "2.45", "-1.4,0,0.0005"))]
    out = tmp_path / "out"
    command = [sys.executable, "-m", "finecoreg", "stack", str(sims[0].master), *(str(s.slave) for s in sims),
               "-o", str(out), "--off", str(sims[0].off), "--grid", "8", "8", "--workers", "1"]
    env = dict(os.environ, PYTHONPATH=python_dir)
    plain = subprocess.run(command, env=env, capture_output=True, text=True, timeout=300)
    assert plain.returncode == 0, plain.stderr
    dense = command + ["--dense", "--dense-window", "32", "32", "--dense-step", "32", "32"]
    run = subprocess.run(dense, env=env, capture_output=True, text=True, timeout=300)
    assert run.returncode == 0, run.stderr
    assert run.stderr.count("done earlier") == 0  # done before, but without the fields

    with open(out / "summary.csv", newline="") as stream:
        rows = {row["pair"]: row for row in csv.DictReader(stream)}
    for name, sim in zip(("a_slave", "b_slave"), sims):
        field = DenseOffsets.load(out / name / "offsets.tif")
        assert field.step == (32.0, 32.0) and (out / name / "offsets.png").stat().st_size > 0
        good = field.mask == 0
        row = {key: float(rows[name][f"dense_{key}"]) for key in (
            "good_fraction", "range_sigma", "azimuth_sigma", "range_offset", "azimuth_offset")}
        assert row["good_fraction"] == good.mean() > 0.6
        assert row["range_sigma"] == pytest.approx(np.median(field.range_sigma[good]), rel=1e-6)
        assert row["azimuth_offset"] == pytest.approx(np.median(field.azimuth_offset[good]), rel=1e-6)
        # The field agrees with the pair's fit at the scene centre within the fit's own scatter.
        centre = evaluate_polynomial([float(rows[name][f"range_c{k}"]) for k in range(6)], 127.5, 127.5)
        assert abs(row["range_offset"] - centre) < 0.1, name
        assert completed_record(str(out), name, dense=True) is not None

    again = subprocess.run(dense, env=env, capture_output=True, text=True, timeout=300)
    assert again.returncode == 0 and again.stderr.count("done earlier") == 2, again.stderr
