"""Fine co-registration of a slave SAR SLC image to a master SLC image.

`coregister` runs the module on a pair; `Result` is what it returns;
`qa_plot` draws a picture of a result; `import_image` and `import_pair` turn
rasters GDAL reads into the module's input files.
"""

from .ingest import import_image, import_pair
from .plot import plot_data, qa_plot
from .result import Result
from .run import Error, coregister

__all__ = ["Error", "Result", "coregister", "import_image", "import_pair", "plot_data", "qa_plot"]
