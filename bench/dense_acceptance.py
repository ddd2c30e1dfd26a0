#!/usr/bin/python3
"""The dense offset tracker and the field resampler on the pair they are meant for: a 2048 x 2048
simulation whose offsets are a quadratic background, a Gaussian bump of one sample (sigma 150 samples)
in range and a 0.5-line step across the diagonal in azimuth.

Prints, for coherence 0.9, the median absolute error of the tracked field (64 x 64 windows, step 16)
over windows more than two windows from the step; and, for coherence 1.0, the mean coherence (5 x 5
looks) after resampling through the field beside that after resampling through the fitted quadratic.

    PYTHONPATH=build/python /usr/bin/python3 bench/dense_acceptance.py build/tools [WORK_DIR]
"""

import subprocess
import sys
import tempfile
import warnings
from pathlib import Path

import numpy as np

import finecoreg
from finecoreg.resample import mean_coherence
from finecoreg.slc_image import image_info, read_lines

SIZE = 2048
WINDOW, STEP = 64, 16
RANGE_POLY, AZIMUTH_POLY = "2.6,4e-4,-3e-4,1e-7,-1e-7,8e-8", "-1.8,-2e-4,5e-4,-8e-8,1e-7,-1e-7"


def simulate(tools, directory, coherence):
    subprocess.run([str(tools / "slcsim" / "slcsim"), "--out-dir", str(directory), "--width", str(SIZE),
                    "--lines", str(SIZE), "--range-poly", RANGE_POLY, "--azimuth-poly", AZIMUTH_POLY,
                    "--range-bump", "1,150", "--azimuth-step", "0.5", "--coherence", str(coherence),
                    "--seed", "7", "--truth-field", str(directory / "truth_field.raw")],
                   check=True, stdout=subprocess.DEVNULL)
    return np.fromfile(directory / "truth_field.raw", "<f4", offset=16).reshape(2, SIZE, SIZE)


def tracking_error(tools, work):
    truth = simulate(tools, work / "c09", 0.9)
    field = finecoreg.dense_offsets(work / "c09" / "master.slc", work / "c09" / "slave.slc",
                                    gross=(3, -2), window=(WINDOW, WINDOW), step=(STEP, STEP), progress=None)
    x, y = np.meshgrid(field.range_positions, field.azimuth_positions)
    # The step runs along the diagonal from (0, 0) to (SIZE-1, SIZE-1).
    away = (np.abs(x - y) / np.sqrt(2) > 2 * WINDOW) & (field.mask == 0)
    xi, yi = np.rint(x).astype(int), np.rint(y).astype(int)
    errors = [np.abs(measured - true[yi, xi])[away]
              for measured, true in ((field.range_offset, truth[0]), (field.azimuth_offset, truth[1]))]
    return [float(np.median(e)) for e in errors], int(away.sum()), field.counts()


def coherence_after(master, resampled):
    _, coherence = finecoreg.interferogram(master, resampled, looks=(5, 5))
    return mean_coherence(coherence)


def resampling_coherence(tools, work):
    pair = work / "c10"
    simulate(tools, pair, 1.0)
    master = read_lines(image_info(pair / "master.slc"))
    field = finecoreg.dense_offsets(pair / "master.slc", pair / "slave.slc", gross=(3, -2),
                                    window=(WINDOW, WINDOW), step=(STEP, STEP), progress=None, fill=True)
    fit = finecoreg.coregister(pair / "master.slc", pair / "slave.slc", pair / "pair.off", progress=None,
                               log=pair / "finecoreg.log")
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        through_field, _ = finecoreg.resample(pair / "master.slc", pair / "slave.slc", None, field=field)
        through_fit, _ = finecoreg.resample(pair / "master.slc", pair / "slave.slc", fit)
    return coherence_after(master, through_field), coherence_after(master, through_fit)


def main():
    tools = Path(sys.argv[1])
    with tempfile.TemporaryDirectory() as scratch:
        work = Path(sys.argv[2]) if len(sys.argv) > 2 else Path(scratch)
        (range_error, azimuth_error), count, counts = tracking_error(tools, work)
        print(f"coherence 0.9: median |error| {range_error:.4f} samples, {azimuth_error:.4f} lines "
              f"over {count} windows away from the step (states {counts})")
        field, fit = resampling_coherence(tools, work)
        print(f"coherence 1.0: mean coherence (5 x 5 looks) {field:.4f} through the field, {fit:.4f} "
              "through the fitted quadratic")


if __name__ == "__main__":
    main()
