"""Raw SLC images as numpy arrays, sized and typed by the XML parameter file beside each."""

import dataclasses
import os
import xml.etree.ElementTree as ElementTree

import numpy as np

from .run import Error

SCOMPLEX_SCALE = 0.001  # an SCOMPLEX part is this many units per count, as the stages read it
_BYTES = {"FCOMPLEX": 8, "SCOMPLEX": 4}


def xml_path(image):
    """The image parameter file of an image: its path up to the last '.', then '.xml'."""
    image = os.fsdecode(image)
    dot = image.rfind(".")
    return (image[:dot] if dot >= 0 else image) + ".xml"


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


def _size_field(root, xml, name):
    node = root.find(f"productInfo/imageDataInfo/{name}")
    try:
        value = int(node.text.strip())
    except (AttributeError, ValueError):
        raise Error(f"{xml}: no {name} in the image parameters") from None
    if value < 1:
        raise Error(f"{xml}: {name} is {value}")
    return value


def image_info(image):
    """Size and format of a raw SLC image; the file must hold at least that many samples.

    Raises
    ------
    Error
        The XML file or the image is missing, unreadable or too short; the
        message names the file.
    """
    image = os.fsdecode(image)
    xml = xml_path(image)
    try:
        root = ElementTree.parse(xml).getroot()
    except OSError as error:
        raise Error(f"{xml}: cannot open ({error.strerror})") from None
    except ElementTree.ParseError as error:
        raise Error(f"{xml}: not well-formed XML ({error})") from None
    samples, lines = (_size_field(root, xml, name) for name in ("numberOfColumns", "numberOfRows"))
    node = root.find("productInfo/imageDataInfo/imageDataType")
    # Every name but SCOMPLEX reads as FCOMPLEX, as for co-registration.
    sample_format = "SCOMPLEX" if node is not None and node.text == "SCOMPLEX" else "FCOMPLEX"
    try:
        size = os.stat(image).st_size
    except OSError as error:
        raise Error(f"{image}: cannot open ({error.strerror})") from None
    needed = lines * samples * _BYTES[sample_format]
    if size < needed:
        raise Error(f"{image}: holds {size} bytes, {lines} lines of {samples} {sample_format} samples "
                    f"need {needed}")
    return ImageInfo(image, lines, samples, sample_format)


def read_lines(info, first=0, count=None):
    """Lines first .. first+count-1 of an image as complex64 (SCOMPLEX scaled by SCOMPLEX_SCALE).

    FCOMPLEX comes as a read-only memory map of the file, SCOMPLEX as a
    converted copy.
    """
    count = info.lines - first if count is None else count
    if info.format == "FCOMPLEX":
        return np.memmap(info.path, dtype="<c8", mode="r", offset=first * info.samples * 8,
                         shape=(count, info.samples))
    parts = np.memmap(info.path, dtype="<i2", mode="r", offset=first * info.samples * 4,
                      shape=(count, info.samples, 2))
    lines = np.empty((count, info.samples), np.complex64)
    # The stages scale each part in double precision, then round to single precision.
    lines.real = parts[..., 0] * SCOMPLEX_SCALE
    lines.imag = parts[..., 1] * SCOMPLEX_SCALE
    return lines


def doppler_coefficients(image):
    """The XML file's dopplerCentroidCoefficients (Hz; missing ones are 0) and pulseRepetitionFrequency (Hz, 0
    when missing)."""
    xml = xml_path(image)
    try:
        root = ElementTree.parse(xml).getroot()
    except OSError as error:
        raise Error(f"{xml}: cannot open ({error.strerror})") from None
    except ElementTree.ParseError as error:
        raise Error(f"{xml}: not well-formed XML ({error})") from None
    node = root.find("radarParameters/dopplerCentroidCoefficients")
    prf = root.find("radarParameters/pulseRepetitionFrequency")
    try:
        values = [float(v) for v in (node.text or "").split()[:4]] if node is not None else []
        rate = float(prf.text) if prf is not None and prf.text and prf.text.strip() else 0.0
    except ValueError:
        raise Error(f"{xml}: the Doppler centroid coefficients or the PRF are not numbers") from None
    return values + [0.0] * (4 - len(values)), rate
