"""The fields of an offset parameter file that resampling needs, read by the library's strict reader.

Every keyword must be there, the coarse offsets whole numbers and each
polynomial six finite coefficients: a zero standing in for a missing term
would silently give a wrong shift. The files path of the resampler reads the
same way, so both paths accept and refuse the same files.
"""

import dataclasses
import os

import numpy as np


@dataclasses.dataclass(frozen=True)
class OffsetFile:
    """coarse: (initial_range_offset, initial_azimuth_offset); the polynomials' c0..c5 as float64."""

    path: str
    coarse: tuple
    range_polynomial: np.ndarray
    azimuth_polynomial: np.ndarray


def read_offset_file(path):
    """Coarse offsets and offset polynomials of an offset parameter file.

    Raises
    ------
    Error
        The file cannot be read or a field is missing or malformed; the
        message names the file and the keyword.
    """
    from ._core import read_offset_file as read

    path = os.fsdecode(path)
    offsets = read(path)
    return OffsetFile(path, (offsets.initial_range_offset, offsets.initial_azimuth_offset),
                      offsets.range_polynomial, offsets.azimuth_polynomial)
