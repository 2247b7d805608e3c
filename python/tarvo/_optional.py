"""The optional dependencies, imported only when a feature first needs one."""

from __future__ import annotations

import importlib
from types import ModuleType
from typing import Any

__all__ = ["require", "agg_figure"]

# The extra of `pip install tarvo[...]` that brings each optional package.
EXTRAS = {"pandas": "table", "pyarrow": "table", "matplotlib": "plot", "tqdm": "progress",
          "dask": "dask"}


def require(module: str, feature: str) -> ModuleType:
    """Import ``module``; without it, an ImportError that names the feature and the extra."""
    package = module.partition(".")[0]
    try:
        return importlib.import_module(module)
    except ImportError as error:
        raise ImportError(
            f"{feature} needs {package}: pip install tarvo[{EXTRAS[package]}]") from error


def agg_figure(feature: str, **options: Any) -> Any:
    """A matplotlib Figure on an Agg canvas, without pyplot's global state."""
    figure = require("matplotlib.figure", feature).Figure(**options)
    require("matplotlib.backends.backend_agg", feature).FigureCanvasAgg(figure)
    return figure
