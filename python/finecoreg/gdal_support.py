"""The GDAL part of the binding (`_gdal`), loaded on first use so that the rest of the package works without GDAL."""

from .error import Error


def gdal_binding(purpose):
    """The module `finecoreg._gdal`; Error saying what is missing when it cannot be loaded.

    `purpose` names what needed it, for the message.
    """
    try:
        from . import _gdal
    except ImportError as error:
        raise Error(f"{purpose} needs GDAL, which this installation of finecoreg lacks ({error}); "
                    "install GDAL (Debian: libgdal-dev) and build the package again") from None
    return _gdal
