import os
import subprocess
import sys

import numpy as np
import pytest
from conftest import AZIMUTH_POLY, RANGE_POLY, exact_poly
from matplotlib.image import imread

from finecoreg import plot_data, qa_plot


def test_plot_draws_measured_minus_fitted_and_marks_culled_and_rejected(synthetic):
    data = plot_data(synthetic.result)
    rejected = ~synthetic.accepted
    np.testing.assert_array_equal(data["range_residual"], np.where(rejected, np.nan, synthetic.range_pert))
    np.testing.assert_array_equal(data["azimuth_residual"], np.where(rejected, np.nan, synthetic.azimuth_pert))
    np.testing.assert_array_equal(data["rejected"], rejected)
    np.testing.assert_array_equal(data["culled"], synthetic.accepted & ~synthetic.kept)
    assert np.isnan(data["range_measured"][rejected]).all()
    # The surface spans the 96 x 80 master image, x along columns, y along rows.
    corners = {(0, 0): (0, 0), (0, -1): (95, 0), (-1, 0): (0, 79), (-1, -1): (95, 79)}
    for (row, column), (x, y) in corners.items():
        assert data["surface_x"][column] == x and data["surface_y"][row] == y
        assert data["range_fitted"][row, column] == exact_poly(RANGE_POLY, x, y)
        assert data["azimuth_fitted"][row, column] == exact_poly(AZIMUTH_POLY, x, y)


@pytest.mark.parametrize("size, dpi, pixels", [((12, 8), 100, (800, 1200)), ((5, 3), 80, (240, 400))],
                         ids=["default", "small"])
def test_png_has_the_asked_size_and_content(synthetic, tmp_path, size, dpi, pixels):
    path = tmp_path / "qa.png"
    assert qa_plot(synthetic.result, path, size=size, dpi=dpi) == path
    image = imread(path)
    assert image.shape[:2] == pixels
    assert image[..., :3].var() > 0


def test_svg_is_written_and_other_formats_refused(synthetic, tmp_path):
    qa_plot(synthetic.result, tmp_path / "qa.svg")
    assert "<svg" in (tmp_path / "qa.svg").read_text()
    with pytest.raises(ValueError, match="png or .svg"):
        qa_plot(synthetic.result, tmp_path / "qa.jpg")


def test_plot_verb_draws_a_saved_result(synthetic, tmp_path, python_dir):
    synthetic.result.save(tmp_path / "result.json")
    env = dict(os.environ, PYTHONPATH=python_dir)
    command = [sys.executable, "-m", "finecoreg", "plot", "result.json", "qa.png", "--size", "4", "3"]
    subprocess.run(command, cwd=tmp_path, env=env, check=True)
    assert imread(tmp_path / "qa.png").shape[:2] == (300, 400)
    missing = subprocess.run(command[:4] + ["absent.json", "qa.png"], cwd=tmp_path, env=env,
                             capture_output=True, text=True)
    assert missing.returncode == 1 and "absent.json" in missing.stderr


def test_fitted_surface_is_marked_outside_the_accepted_positions_hull(synthetic):
    # Accepted: the 3 x 4 grid x 10..70, y 20..60 but for its corners (10, 20) and (70, 60).
    data = plot_data(synthetic.result)
    assert sorted(map(tuple, data["hull"].tolist())) == [(10, 40), (10, 60), (30, 20), (50, 60), (70, 20),
                                                         (70, 40)]
    x, y = np.meshgrid(data["surface_x"], data["surface_y"])
    in_box = (x >= 10) & (x <= 70) & (y >= 20) & (y <= 60)
    cut_corners = (x - 10) / 20 + (y - 20) / 20 < 1, (70 - x) / 20 + (60 - y) / 20 < 1
    np.testing.assert_array_equal(data["surface_inside"], in_box & ~cut_corners[0] & ~cut_corners[1])


@pytest.mark.parametrize("width, lines, aspect", [(2048, 2048, 1.0), (512, 1536, 1.0), (100, 1000, 0.4),
                                                  (1000, 100, 2.5)])
def test_maps_keep_square_pixels_up_to_a_ratio_of_four(width, lines, aspect):
    from finecoreg.plot import map_aspect
    assert map_aspect(width, lines) == pytest.approx(aspect, rel=1e-12)
