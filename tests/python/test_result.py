import dataclasses
import json

import numpy as np
import pytest

import finecoreg

def test_evaluate_broadcasts_positions(synthetic):
    result = dataclasses.replace(synthetic.result, range_polynomial=[1, 0, 0, 1, 0, 0],  # 1 + x*y
                                 azimuth_polynomial=[0, 0, 0, 0, 1, 1])  # x^2 + y^2
    range_fit, azimuth_fit = result.evaluate([[0], [1], [2]], [10, 20])
    assert range_fit.dtype == azimuth_fit.dtype == np.float64
    np.testing.assert_array_equal(range_fit, [[1, 1], [11, 21], [21, 41]])
    np.testing.assert_array_equal(azimuth_fit, [[100, 400], [101, 401], [104, 404]])


def test_json_round_trip_is_exact(synthetic, tmp_path):
    rng = np.random.default_rng(7)
    grid = lambda: rng.standard_normal((3, 4)).astype(np.float32) * 3  # no short decimal forms
    result = dataclasses.replace(
        synthetic.result, range_offset=grid(), azimuth_offset=grid(), snr=np.abs(grid()),
        range_polynomial=rng.standard_normal(6) * 1e-7, azimuth_errors=rng.standard_normal(6),
        range_std=1 / 3, azimuth_std=np.float32(0.1), window=(64, 32), snr_threshold=7.5)
    path = tmp_path / "result.json"
    result.save(path)
    loaded = finecoreg.Result.load(path)
    assert json.loads(path.read_text())["samples"] == 12
    for field in dataclasses.fields(result):
        mine, theirs = getattr(result, field.name), getattr(loaded, field.name)
        if isinstance(mine, np.ndarray):
            assert mine.dtype == theirs.dtype and np.array_equal(mine, theirs), field.name
        else:
            assert type(mine) is type(theirs) and mine == theirs, field.name
    older = {k: v for k, v in result.to_dict().items() if k not in ("window", "snr_threshold")}
    assert (finecoreg.Result.from_dict(older).window, finecoreg.Result.from_dict(older).snr_threshold) == ((), None)


@pytest.mark.parametrize("field, value", [
    ("snr", np.zeros((4, 3))),
    ("kept", np.ones((3, 5), bool)),
    ("range_polynomial", np.zeros(5)),
    ("azimuth_positions", np.zeros((1, 3), np.int64)),
    ("samples", 13),
])
def test_inconsistent_shapes_are_refused(synthetic, field, value):
    with pytest.raises(ValueError, match=field):
        dataclasses.replace(synthetic.result, **{field: value})


