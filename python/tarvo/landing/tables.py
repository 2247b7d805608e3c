"""`Landing.to_frame` and `Landing.save`: a landing as a table and as a file.

The table has one row per node and one column per quantity, each named with its unit:

    t_s                       node time, s
    x_m, y_m, z_m             position, m (z is the altitude)
    vx_m_per_s ... vz_m_per_s velocity, m/s
    ux_m_per_s2 ... uz_m_per_s2  thrust acceleration, m/s^2
    sigma_m_per_s2            bound on the thrust acceleration's magnitude, m/s^2
    thrust_N                  thrust magnitude, N
    mass_kg                   mass, kg

`save` writes the table as CSV or Parquet, or the whole landing as one JSON object, by the
file's suffix. Every file is built in memory first and written beside its destination, then
renamed over it (`tarvo._files`), so a failure while building or writing it leaves no
half-written file behind.
"""

from __future__ import annotations

import io
import json
import math
import os

from .._files import write_bytes_replacing
from .._optional import require

__all__ = ["landing_frame", "landing_document", "landing_bytes", "save_landing", "SAVE_SUFFIXES"]

SAVE_SUFFIXES = (".csv", ".json", ".parquet")

# Per-node arrays of the JSON document, named as on `Landing`.
_DOCUMENT_ARRAYS = ("time_points", "positions", "velocities", "u_values", "s_values",
                    "thrusts", "normalized_thrusts", "z_values", "masses")

_DOCUMENT_SCALARS = ("ok", "method", "status", "message", "time_of_flight", "final_mass", "fuel_used",
                     "objective", "iterations", "solve_seconds", "miss_distance")


def _column_groups(landing):
    """(column names, per-node array) in table order."""
    return [
        (("t_s",), landing.time_points),
        (("x_m", "y_m", "z_m"), landing.positions),
        (("vx_m_per_s", "vy_m_per_s", "vz_m_per_s"), landing.velocities),
        (("ux_m_per_s2", "uy_m_per_s2", "uz_m_per_s2"), landing.u_values),
        (("sigma_m_per_s2",), landing.s_values),
        (("thrust_N",), landing.thrusts),
        (("mass_kg",), landing.masses),
    ]


def landing_frame(landing):
    """The landing as a pandas DataFrame, one row per node (index "node").

    A failed landing gives the same columns and no rows. ``frame.attrs`` holds the scalar
    results and the configuration document (Parquet keeps them, CSV does not).
    """
    pandas = require("pandas", "a landing table")
    columns = {}
    for names, values in _column_groups(landing):
        for index, name in enumerate(names):
            columns[name] = values[:, index] if values.ndim == 2 else values
    frame = pandas.DataFrame(columns)
    frame.index.name = "node"
    frame.attrs = {name: _json_value(getattr(landing, name)) for name in _DOCUMENT_SCALARS}
    frame.attrs["config"] = landing.config.to_json()
    return frame


def landing_document(landing):
    """The landing as a JSON-ready dict: the configuration document (as a JSON value), the
    scalar results, the search's trials, the checks of its verification and the per-node
    arrays. Non-finite numbers
    become None (JSON null), so that the text is valid JSON."""
    document = {"config": json.loads(landing.config.to_json())}
    document.update({name: getattr(landing, name) for name in _DOCUMENT_SCALARS})
    document["trials"] = [trial._asdict() for trial in landing.trials]
    document["solver"] = None if landing.solver is None else landing.solver._asdict()
    document["verification"] = (None if landing.verification is None else
                                [check._asdict() for check in landing.verification.checks])
    document.update({name: getattr(landing, name).tolist() for name in _DOCUMENT_ARRAYS})
    return _json_value(document)


def _json_value(value):
    """value with every non-finite float replaced by None; containers are at most a few
    levels deep here (a document of lists of 3-lists)."""
    if isinstance(value, float):
        return value if math.isfinite(value) else None
    if isinstance(value, dict):
        return {key: _json_value(item) for key, item in value.items()}
    if isinstance(value, (list, tuple)):
        return [_json_value(item) for item in value]
    return value


def landing_bytes(landing, suffix):
    """The file content of `landing` for a file suffix of SAVE_SUFFIXES."""
    if suffix == ".json":
        text = json.dumps(landing_document(landing), indent=2, allow_nan=False)
        return (text + "\n").encode("utf-8")
    if suffix == ".csv":
        return landing_frame(landing).to_csv().encode("utf-8")
    buffer = io.BytesIO()
    frame = landing_frame(landing)
    try:
        frame.to_parquet(buffer)
    except ImportError as error:
        raise ImportError("Parquet files need pyarrow: pip install tarvo[table]") from error
    return buffer.getvalue()


def check_suffix(path):
    """The lower-case suffix of path; ValueError naming the supported ones otherwise."""
    suffix = os.path.splitext(os.fspath(path))[1].lower()
    if suffix not in SAVE_SUFFIXES:
        raise ValueError(f"cannot save a landing as {os.fspath(path)!r}: the file name must "
                         f"end in {', '.join(SAVE_SUFFIXES)}")
    return suffix


def save_landing(landing, path):
    """Write `landing` to path, its format chosen by the suffix (.csv, .json, .parquet)."""
    write_bytes_replacing(path, landing_bytes(landing, check_suffix(path)))
