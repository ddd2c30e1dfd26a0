"""The record of one co-registration run: measurements on the grid and the fit."""

import dataclasses
import json

import numpy as np

# Field name -> (dtype, shape); "nr" and "naz" stand for the grid's size.
_ARRAYS = {
    "range_positions": (np.int64, ("nr",)),
    "azimuth_positions": (np.int64, ("naz",)),
    "range_offset": (np.float32, ("naz", "nr")),
    "azimuth_offset": (np.float32, ("naz", "nr")),
    "snr": (np.float32, ("naz", "nr")),
    "accepted": (np.bool_, ("naz", "nr")),
    "kept": (np.bool_, ("naz", "nr")),
    "range_polynomial": (np.float64, (6,)),
    "azimuth_polynomial": (np.float64, (6,)),
    "range_errors": (np.float64, (6,)),
    "azimuth_errors": (np.float64, (6,)),
}
_INTS = ("accepted_count", "kept_count", "samples", "passes", "image_width", "image_lines")
_FLOATS = ("range_std", "azimuth_std")


def evaluate_polynomial(coefficients, x, y):
    """Offset polynomial c0 + c1 x + c2 y + c3 x y + c4 x^2 + c5 y^2 at (x, y).

    The sums are taken in the order the fitted offset file's own evaluation
    uses, so values here agree bit for bit with the module's fitted offsets.
    """
    c = np.asarray(coefficients, dtype=np.float64)
    x = np.asarray(x, dtype=np.float64)
    y = np.asarray(y, dtype=np.float64)
    s = (c[1] * x + c[0]) + c[2] * y
    return (((x * y) * c[3] + s) + (x * x) * c[4]) + (y * y) * c[5]


@dataclasses.dataclass(frozen=True, eq=False)
class Result:
    """Offsets measured on the estimation grid and the offset polynomials fitted to them.

    Parameters
    ----------
    range_positions : ndarray of int64, shape (nr,)
        Master range sample of each grid column.
    azimuth_positions : ndarray of int64, shape (naz,)
        Master line of each grid row.
    range_offset, azimuth_offset : ndarray of float32, shape (naz, nr)
        Measured slave offset in range samples and azimuth lines
        (slave position = master position + offset).
    snr : ndarray of float32, shape (naz, nr)
        SNR of each measurement; 0 where nothing was measured.
    accepted, kept : ndarray of bool, shape (naz, nr)
        Positions whose SNR exceeds the threshold; those of them that
        survived the outlier culling.
    range_polynomial, azimuth_polynomial : ndarray of float64, shape (6,)
        Fitted coefficients of the terms 1, x, y, x*y, x^2, y^2 (x master
        range sample, y master line).
    range_errors, azimuth_errors : ndarray of float64, shape (6,)
        Standard errors of the coefficients.
    range_std, azimuth_std : float
        Standard deviation of the fit (range in samples, azimuth in lines).
    accepted_count, kept_count, samples, passes : int
        Numbers of accepted, of kept and of all (nr * naz) grid positions;
        number of culling passes of the fit.
    image_width, image_lines : int
        Size of the master image in samples and lines.
    paths : dict of str to str
        Files of the run: "master", "slave", "offset_par", "fitted_offset_par".
    held_terms : tuple of str
        Terms ("1", "x", "y", "x*y", "x^2", "y^2") the kept positions do not
        determine (they span too few lines or samples): held at zero in both
        polynomials, with zero errors. Empty when all six are fitted.
    window : (int, int) or ()
        Correlation window (width, height) of the run; () when not recorded.
    snr_threshold : float or None
        SNR an estimate had to exceed; None when not recorded.

    Raises
    ------
    ValueError
        When an array does not have the shape the grid implies, or samples
        is not nr * naz.
    """

    range_positions: np.ndarray
    azimuth_positions: np.ndarray
    range_offset: np.ndarray
    azimuth_offset: np.ndarray
    snr: np.ndarray
    accepted: np.ndarray
    kept: np.ndarray
    range_polynomial: np.ndarray
    azimuth_polynomial: np.ndarray
    range_errors: np.ndarray
    azimuth_errors: np.ndarray
    range_std: float
    azimuth_std: float
    accepted_count: int
    kept_count: int
    samples: int
    passes: int
    image_width: int
    image_lines: int
    paths: dict
    held_terms: tuple = ()
    window: tuple = ()
    snr_threshold: object = None

    def __post_init__(self):
        set_field = lambda name, value: object.__setattr__(self, name, value)
        for name, (dtype, _) in _ARRAYS.items():
            array = np.array(getattr(self, name)).astype(dtype, casting="same_kind")
            array.setflags(write=False)
            set_field(name, array)
        for name in _INTS:
            set_field(name, int(getattr(self, name)))
        for name in _FLOATS:
            set_field(name, float(getattr(self, name)))
        set_field("paths", {str(k): str(v) for k, v in dict(self.paths).items()})
        set_field("held_terms", tuple(str(t) for t in self.held_terms))
        set_field("window", tuple(int(v) for v in self.window))
        if self.snr_threshold is not None:
            set_field("snr_threshold", float(self.snr_threshold))
        size = {"nr": self.range_positions.size, "naz": self.azimuth_positions.size}
        for name, (_, dims) in _ARRAYS.items():
            expected = tuple(size.get(d, d) for d in dims)
            actual = getattr(self, name).shape
            if actual != expected:
                raise ValueError(f"{name} has shape {actual}, expected {expected}")
        if self.samples != size["nr"] * size["naz"]:
            raise ValueError(f"samples is {self.samples}, expected nr * naz = {size['nr'] * size['naz']}")

    def evaluate(self, x, y):
        """Fitted offsets at master range sample(s) x and line(s) y.

        Parameters
        ----------
        x, y : array_like
            Positions; broadcast against each other.

        Returns
        -------
        range, azimuth : ndarray of float64
            Fitted range offset (samples) and azimuth offset (lines), of the
            broadcast shape of x and y.
        """
        return (evaluate_polynomial(self.range_polynomial, x, y),
                evaluate_polynomial(self.azimuth_polynomial, x, y))

    def residuals(self):
        """Measured minus fitted offsets on the grid.

        Returns
        -------
        range, azimuth : ndarray of float64, shape (naz, nr)
            NaN at positions that were not accepted.
        """
        fitted = self.evaluate(self.range_positions[np.newaxis, :], self.azimuth_positions[:, np.newaxis])
        measured = (self.range_offset, self.azimuth_offset)
        return tuple(np.where(self.accepted, m.astype(np.float64) - f, np.nan) for m, f in zip(measured, fitted))

    def to_dict(self):
        """Plain dict of JSON types (arrays as nested lists) that `from_dict` restores exactly."""
        record = {name: getattr(self, name).tolist() for name in _ARRAYS}
        record.update({name: getattr(self, name) for name in _INTS + _FLOATS})
        record["paths"] = dict(self.paths)
        record["held_terms"] = list(self.held_terms)
        record["window"] = list(self.window)
        record["snr_threshold"] = self.snr_threshold
        return record

    @classmethod
    def from_dict(cls, record):
        """Result from a dict as written by `to_dict`."""
        fields = [f for f in dataclasses.fields(cls) if f.default is dataclasses.MISSING or f.name in record]
        missing = [field.name for field in fields if field.name not in record]
        if missing:
            raise ValueError(f"result record lacks {', '.join(missing)}")
        return cls(**{field.name: record[field.name] for field in fields})

    def save(self, path):
        """Write the result as JSON to path (float32 values survive through their float64 repr)."""
        from .files import write_atomically

        def write(temporary):
            with open(temporary, "w", encoding="utf-8") as stream:
                json.dump(self.to_dict(), stream)
                stream.write("\n")

        write_atomically(path, write)

    @classmethod
    def load(cls, path):
        """Read a result written by `save`."""
        with open(path, encoding="utf-8") as stream:
            return cls.from_dict(json.load(stream))
