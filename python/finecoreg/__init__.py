"""Fine co-registration of a slave SAR SLC image to a master SLC image."""

from .plot import plot_data, qa_plot
from .result import Result

__all__ = ["Result", "coregister", "plot_data", "qa_plot"]


def coregister(*args, **kwargs):
    """Co-register a pair with the compiled module `finecoreg._core`.

    Raises
    ------
    ImportError
        When the compiled module has not been built or cannot be loaded.
    """
    try:
        from . import _core
    except ImportError as error:
        raise ImportError(
            "finecoreg.coregister needs the compiled module finecoreg._core, which could not be "
            f"imported ({error}); build the project with its Python binding and put the build "
            "tree's python directory on PYTHONPATH") from error
    return _core.coregister(*args, **kwargs)
