"""The few fields of an offset parameter file that resampling needs: coarse offsets and polynomials.

Read the way the module's keyword readers read them: the first occurrence of
the keyword anywhere in the text, then separators (tab, space, double quote,
colon), then the value up to a newline or semicolon. Unlike the module, a
missing field is an error here: a zero standing in for it would silently
give a wrong shift.
"""

import dataclasses
import os
import re

import numpy as np

from .run import Error

_SEPARATORS = rb"[\t \":]*"
_NUMBER = re.compile(rb"\s*([-+]?\d+)")


@dataclasses.dataclass(frozen=True)
class OffsetFile:
    """coarse: (initial_range_offset, initial_azimuth_offset); the polynomials' c0..c5 as float64."""

    path: str
    coarse: tuple
    range_polynomial: np.ndarray
    azimuth_polynomial: np.ndarray


def _value(text, path, key):
    match = re.search(re.escape(key) + _SEPARATORS + rb"([^\n;]*)", text)
    if match is None:
        raise Error(f"{path}: no {key.decode()}")
    return match.group(1)


def _integer(text, path, key):
    match = _NUMBER.match(_value(text, path, key))
    if match is None:
        raise Error(f"{path}: {key.decode()} is not a whole number")
    return int(match.group(1))


def _polynomial(text, path, key):
    """Six coefficients; missing trailing ones are 0, as the module reads them."""
    coefficients = np.zeros(6)
    for k, token in enumerate(re.split(rb"[ ,\t]+", _value(text, path, key).strip(b" ,\t\r\"")[:255])[:6]):
        if not token:
            break
        try:
            coefficients[k] = float(token)
        except ValueError:
            raise Error(f"{path}: {key.decode()} holds {token.decode(errors='replace')!r}, not a number") from None
    return coefficients


def read_offset_file(path):
    """Coarse offsets and offset polynomials of an offset parameter file.

    Raises
    ------
    Error
        The file cannot be read or lacks one of the fields; the message names it.
    """
    path = os.fsdecode(path)
    try:
        with open(path, "rb") as stream:
            text = stream.read()
    except OSError as error:
        raise Error(f"{path}: cannot open ({error.strerror})") from None
    coarse = (_integer(text, path, b"initial_range_offset"), _integer(text, path, b"initial_azimuth_offset"))
    return OffsetFile(path, coarse, _polynomial(text, path, b"range_offset_polynomial"),
                      _polynomial(text, path, b"azimuth_offset_polynomial"))
