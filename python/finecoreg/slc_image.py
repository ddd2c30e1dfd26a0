"""Raw SLC images as numpy arrays, sized and typed by the XML parameter file beside each.

The XML file is found and read, and SCOMPLEX samples decoded, by the same
library code the resampler uses.
"""

import dataclasses
import os

import numpy as np

from .error import Error

SCOMPLEX_SCALE = 0.001  # an SCOMPLEX part is this many units per count, as the stages read it
_BYTES = {"FCOMPLEX": 8, "SCOMPLEX": 4}


def xml_path(image):
    """The image parameter file of an image: its file name up to the last '.', then '.xml'."""
    from ._core import sidecar_path

    return sidecar_path(image, ".xml")


@dataclasses.dataclass(frozen=True)
class ImageInfo:
    """An SLC image file: lines, samples per line and sample format, from its XML file."""

    path: str
    lines: int
    samples: int
    format: str

    @property
    def shape(self):
        return (self.lines, self.samples)


def image_parameters(image):
    """The image parameter file beside an image, read by the library (`_core.ImageParameters`).

    Raises
    ------
    Error
        The XML file is missing, malformed or describes no raster; the message names it.
    """
    from ._core import read_image_parameters

    return read_image_parameters(image)


def image_info(image):
    """Size and format of a raw SLC image; the file must hold at least that many samples.

    Raises
    ------
    Error
        The XML file or the image is missing, unreadable or too short; the
        message names the file.
    """
    image = os.fsdecode(image)
    parameters = image_parameters(image)
    # Every name but SCOMPLEX reads as FCOMPLEX, as for co-registration.
    sample_format = "SCOMPLEX" if parameters.image_data_type == "SCOMPLEX" else "FCOMPLEX"
    lines, samples = parameters.rows, parameters.columns
    try:
        size = os.stat(image).st_size
    except OSError as error:
        raise Error(f"cannot open ({error.strerror})", image) from None
    needed = lines * samples * _BYTES[sample_format]
    if size < needed:
        raise Error(f"holds {size} bytes, {lines} lines of {samples} {sample_format} samples need {needed}", image)
    return ImageInfo(image, lines, samples, sample_format)


def read_lines(info, first=0, count=None):
    """Lines first .. first+count-1 of an image as complex64 (SCOMPLEX scaled by SCOMPLEX_SCALE).

    FCOMPLEX comes as a read-only memory map of the file, SCOMPLEX as a
    copy decoded by the library.
    """
    from ._core import decode_samples

    count = info.lines - first if count is None else count
    if info.format == "FCOMPLEX":
        return np.memmap(info.path, dtype="<c8", mode="r", offset=first * info.samples * 8,
                         shape=(count, info.samples))
    raw = np.memmap(info.path, dtype=np.uint8, mode="r", offset=first * info.samples * 4,
                    shape=(count * info.samples * 4,))
    return decode_samples(raw, "SCOMPLEX").reshape(count, info.samples)


def doppler_coefficients(image):
    """The XML file's dopplerCentroidCoefficients (Hz) and pulseRepetitionFrequency (Hz), as the
    library reads them."""
    parameters = image_parameters(image)
    return list(parameters.doppler_centroid_coefficients), parameters.pulse_repetition_frequency
