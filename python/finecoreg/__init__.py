"""Fine co-registration of a slave SAR SLC image to a master SLC image.

`coregister` runs the module on a pair; `Result` is what it returns;
`qa_plot` draws a picture of a result; `import_image` and `import_pair` turn
rasters GDAL reads into the module's input files; `resample` puts the slave
on the master's grid through the fitted polynomials, `interferogram` forms
the interferogram and its coherence, and `coherence_plot` shows the
coherence after co-registration beside that of the coarse shift alone.
`dense_offsets` tracks the offset field of a pair and `offsets_plot` draws it.
"""

try:
    from ._version import __version__
except ImportError:  # the source tree, where the build has not written it
    __version__ = "unknown"
from .coherence_plot import coherence_data, coherence_plot
from .error import Error
from .ingest import import_image, import_pair
from .offsets import DenseOffsets, dense_offsets
from .offsets_plot import offsets_plot, offsets_plot_data
from .plot import plot_data, qa_plot
from .resample import coarse_coherence, interferogram, resample
from .result import Result
from .run import coregister

__all__ = ["__version__", "DenseOffsets", "Error", "Result", "coarse_coherence", "coherence_data", "coherence_plot",
           "coregister", "dense_offsets", "import_image", "import_pair", "interferogram", "offsets_plot",
           "offsets_plot_data", "plot_data", "qa_plot",
           "resample"]
