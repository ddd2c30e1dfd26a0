"""A quick check that an installation works: a small simulated pair, co-registered and resampled.

The pair is simulated here in numpy (band-limited speckle, the slave shifted
by a known sub-sample offset through the Fourier shift theorem and mixed
with independent speckle down to a known coherence), so nothing but the
package itself is needed.
"""

import os
import tempfile
import time

import numpy as np

SIZE = 512                    # lines and samples
TRUE_OFFSET = (2.37, -1.62)   # range samples, azimuth lines (slave = master + offset)
COHERENCE = 0.8
OFFSET_TOLERANCE = 0.1        # samples, anywhere on the image
COHERENCE_FLOOR = 0.7         # mean over 5 x 5 looks after resampling


def _speckle(rng, shape, occupancy=0.8):
    """Circular complex Gaussian speckle filling `occupancy` of the band in both directions, unit power."""
    spectrum = rng.standard_normal(shape) + 1j * rng.standard_normal(shape)
    for axis, n in enumerate(shape):
        keep = np.abs(np.fft.fftfreq(n)) <= occupancy / 2
        spectrum *= keep.reshape((-1, 1) if axis == 0 else (1, -1))
    field = np.fft.ifft2(spectrum)
    return field / np.sqrt(np.mean(np.abs(field) ** 2))


def _shifted(field, range_shift, azimuth_shift):
    """The periodic band-limited field at (x - range_shift, y - azimuth_shift): exact for any shift."""
    lines, samples = field.shape
    ramp = np.exp(-2j * np.pi * (np.fft.fftfreq(samples)[None, :] * range_shift
                                 + np.fft.fftfreq(lines)[:, None] * azimuth_shift))
    return np.fft.ifft2(np.fft.fft2(field) * ramp)


def simulate_pair(directory, seed=1):
    """Writes master.slc, slave.slc (FCOMPLEX, with their XML files) and pair.off into directory."""
    from . import _core

    rng = np.random.default_rng(seed)
    master = _speckle(rng, (SIZE, SIZE))
    slave = (COHERENCE * _shifted(master, *TRUE_OFFSET)
             + np.sqrt(1 - COHERENCE ** 2) * _speckle(rng, (SIZE, SIZE)))
    paths = {name: os.path.join(directory, name) for name in ("master.slc", "slave.slc", "pair.off")}
    for name, image in (("master.slc", master), ("slave.slc", slave)):
        image.astype("<c8").tofile(paths[name])
        _core.write_image_parameters(paths[name], SIZE, SIZE, "FCOMPLEX")
    _core.write_initial_offsets(paths["pair.off"], round(TRUE_OFFSET[0]), round(TRUE_OFFSET[1]))
    return paths


def _largest_fit_error(result):
    y, x = np.mgrid[0:SIZE:8, 0:SIZE:8].astype(float)
    fitted_range, fitted_azimuth = result.evaluate(x, y)
    return max(np.max(np.abs(fitted_range - TRUE_OFFSET[0])), np.max(np.abs(fitted_azimuth - TRUE_OFFSET[1])))


def run():
    """Runs the self-test; (passed, one line saying what was found)."""
    from .resample import interferogram, mean_coherence, resample
    from .run import coregister

    start = time.monotonic()
    with tempfile.TemporaryDirectory(prefix="finecoreg-selftest-") as directory:
        paths = simulate_pair(directory)
        result = coregister(paths["master.slc"], paths["slave.slc"], paths["pair.off"], window=(64, 64),
                            grid=(16, 16), progress=None, log=os.path.join(directory, "run.log"))
        error = _largest_fit_error(result)
        resampled, _ = resample(np.empty((SIZE, SIZE), np.complex64), np.fromfile(paths["slave.slc"], "<c8")
                                .reshape(SIZE, SIZE), result, progress=None, doppler="off")
        master = np.fromfile(paths["master.slc"], "<c8").reshape(SIZE, SIZE)
        coherence = mean_coherence(interferogram(master, resampled, (5, 5))[1])
    figures = (f"{result.kept_count} of {result.samples} estimates kept, largest fit error {error:.4f} samples "
               f"(limit {OFFSET_TOLERANCE}), mean coherence {coherence:.3f} (at least {COHERENCE_FLOOR}), "
               f"{time.monotonic() - start:.1f} s")
    failed = [what for what, bad in (("fit", not error < OFFSET_TOLERANCE),
                                     ("coherence", not coherence >= COHERENCE_FLOOR)) if bad]
    if failed:
        return False, f"finecoreg selftest: FAILED ({' and '.join(failed)}: {figures})"
    return True, f"finecoreg selftest: passed ({figures})"
