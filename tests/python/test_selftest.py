"""The installation self-test: passes on a working package, and fails on a wrong fit or a poor coherence."""
import os
import subprocess
import sys

import pytest

from finecoreg import selftest


def test_selftest_passes_in_one_line_and_reports_its_figures(python_dir):
    run = subprocess.run([sys.executable, "-m", "finecoreg", "selftest"], capture_output=True, text=True,
                         env=dict(os.environ, PYTHONPATH=python_dir))
    assert run.returncode == 0, run.stdout + run.stderr
    assert run.stdout.count("\n") == 1 and run.stdout.startswith("finecoreg selftest: passed (")
    assert "largest fit error 0.0" in run.stdout


@pytest.mark.parametrize("fault, failed", [
    ("slave shifted 0.3 samples further than the truth says", "fit"),
    ("coherence 0.6", "coherence")], ids=["fit", "coherence"])
def test_selftest_fails_when_the_check_does_not_hold(monkeypatch, fault, failed):
    if failed == "fit":
        shifted = selftest._shifted
        monkeypatch.setattr(selftest, "_shifted", lambda field, r, a: shifted(field, r + 0.3, a))
    else:
        monkeypatch.setattr(selftest, "COHERENCE", 0.6)
    passed, line = selftest.run()
    assert not passed and line.startswith(f"finecoreg selftest: FAILED ({failed}: "), fault
