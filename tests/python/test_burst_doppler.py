"""A real Sentinel-1 TOPS crop, whose Doppler centroid sweeps through more than half the PRF over its 84
lines, shifted by a known fraction and resampled back with the true shift: the resampler must follow the
centroid along azimuth to give the secondary image back."""

import os
from pathlib import Path

import numpy as np
import pytest

import finecoreg
from finecoreg.resample import mean_coherence

DATA = Path(os.environ.get("FC_REAL_DATA_DIR", Path(__file__).resolve().parents[3] / "shared" / "data"))
CROP = DATA / "s1_amsterdam"
SHIFT_RANGE, SHIFT_AZIMUTH = -4.6, -2.7  # slave position = master position + shift
INTERIOR = (slice(12, 70), slice(16, 318))  # away from the edges where the Fourier shift wraps and the kernel leaves


def read_crop(name):
    return np.fromfile(CROP / name, "<c8").reshape(84, 338)


def linear_centroid(image, block=8):
    """The centroid line by line as a straight line fitted to 8-line blocks' lag-one phases (unwrapped):
    the test's own estimate, independent of the module's."""
    lag = image[1:] * np.conj(image[:-1])
    centres = np.arange(0, lag.shape[0] - block + 1, block)
    phases = np.unwrap([np.angle(lag[c:c + block].sum()) for c in centres]) / (2 * np.pi)
    return np.polyfit(centres + block / 2, phases, 1)  # slope, intercept in cycles per line


def fourier_shifted(image):
    """The image moved so that the returned slave at (x + SHIFT_RANGE, y + SHIFT_AZIMUTH) is the image at
    (x, y): deramped by its centroid's phase, shifted exactly in the Fourier domain, reramped."""
    slope, intercept = linear_centroid(image)
    y = np.arange(image.shape[0], dtype=np.float64)[:, None]

    def phase(lines):  # the integral of the centroid, in cycles
        return intercept * lines + 0.5 * slope * lines ** 2

    spectrum = np.fft.fft2(image * np.exp(-2j * np.pi * phase(y)))
    ky = np.fft.fftfreq(image.shape[0])[:, None]
    kx = np.fft.fftfreq(image.shape[1])[None, :]
    moved = np.fft.ifft2(spectrum * np.exp(-2j * np.pi * (kx * SHIFT_RANGE + ky * SHIFT_AZIMUTH)))
    return (moved * np.exp(2j * np.pi * phase(y - SHIFT_AZIMUTH))).astype(np.complex64)


def mean_interior_coherence(master, slave):
    _, coherence = finecoreg.interferogram(master[INTERIOR], slave[INTERIOR], looks=(5, 5))
    return float(np.mean(coherence, dtype=np.float64))


@pytest.mark.skipif(not CROP.is_dir(), reason="the real SAR test data are not here")
def test_a_tops_crop_shifted_by_a_fraction_comes_back_when_the_centroid_is_followed():
    reference, secondary = read_crop("s1a_iw3_vv_20230331_ref.slc"), read_crop("s1a_iw3_vv_20230319_sec_coreg.slc")
    slope, _ = linear_centroid(secondary)
    assert slope * 84 > 0.4  # the antenna steering this test is about
    shifted = fourier_shifted(secondary)
    constant = np.zeros(6)
    polynomials = (constant + np.eye(6)[0] * SHIFT_RANGE, constant + np.eye(6)[0] * SHIFT_AZIMUTH)
    back, mask = finecoreg.resample(reference, shifted, polynomials)
    assert not mask[INTERIOR].any()

    error = np.sum(np.abs(back[INTERIOR] - secondary[INTERIOR]) ** 2) / np.sum(np.abs(secondary[INTERIOR]) ** 2)
    assert 10 * np.log10(error) <= -35
    assert mean_interior_coherence(reference, back) == pytest.approx(
        mean_interior_coherence(reference, secondary), abs=0.001)


def test_a_centroid_swept_along_azimuth_is_followed_on_every_entry_point(tmp_path, tools_dir):
    """Simulated at coherence 1.0 with a centroid from 0.05 to 0.45 cycles/line (the XML gives its mean
    only): co-registered, then resampled by the tool, by Python's files path and by its arrays path."""
    import subprocess
    import warnings

    from conftest import simulate_pair
    from finecoreg.slc_image import image_info, read_lines

    pair = simulate_pair(tmp_path, width=512, lines=512, range_poly="2.6,1e-3", azimuth_poly="-1.8,0,1.2e-3",
                         coherence=1.0, more=("--doppler-azimuth", "0.05,0.45"))
    fitted = finecoreg.coregister(pair.master, pair.slave, pair.off, progress=None, log=tmp_path / "log").paths["fitted_offset_par"]
    master = read_lines(image_info(pair.master))
    tool = subprocess.run([str(tools_dir / "resample" / "finecoreg-resample"), str(pair.master), str(pair.slave),
                           str(fitted), str(tmp_path / "tool.slc"), "--quiet"], capture_output=True, text=True)
    assert tool.returncode == 0, tool.stderr
    assert "(estimated, following azimuth)" in tool.stdout and "the data's is followed" in tool.stderr
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")  # the XML's one centroid, set aside
        written = finecoreg.resample(pair.master, pair.slave, fitted, out=tmp_path / "py.slc", progress=None)
        arrays, _ = finecoreg.resample(pair.master, pair.slave, fitted)
    assert written["doppler_lowest"] == pytest.approx(0.05, abs=0.01)
    assert written["doppler_highest"] == pytest.approx(0.45, abs=0.01)
    for resampled in (read_lines(image_info(tmp_path / "tool.slc")), read_lines(image_info(written["output"])), arrays):
        _, coherence = finecoreg.interferogram(master, resampled, looks=(5, 5))
        assert mean_coherence(coherence) >= 0.99
