"""`Flight.to_frame` and `Flight.save`: a flight as a table and as a file.

The table has one row per sample (index "sample"), each column named with its unit:

    t_s                                   sample time, s
    x_m, y_m, z_m                         true position, m (z is the altitude)
    vx_m_per_s, vy_m_per_s, vz_m_per_s    true velocity, m/s
    mass_kg, believed_mass_kg             true mass and the guidance's book of it, kg
    commanded_thrust_x_N ... _z_N, commanded_thrust_N    thrust commanded, N
    actual_thrust_x_N ... _z_N, actual_thrust_N          thrust delivered, N

`save` writes the table as CSV or Parquet, or the whole flight as one JSON object (the
configuration, the errors and their draws, the outcome, the re-plans and the samples), by
the file's suffix, through the atomic writer (`tarvo._files`).
"""

from __future__ import annotations

import io
import json
import os

from .._files import write_bytes_replacing
from .._optional import require
from ..landing.tables import _json_value

__all__ = ["flight_frame", "flight_document", "flight_bytes", "save_flight", "SAVE_SUFFIXES"]

SAVE_SUFFIXES = (".csv", ".json", ".parquet")

RESULTS = ("ok", "status", "message", "touchdown_time", "touchdown_position_error",
           "touchdown_velocity_error", "final_mass", "fuel_used", "replanning_stopped",
           "failed_replans", "worst_guidance_seconds", "median_guidance_seconds")
ARGUMENTS = ("seed", "replan_every", "sample_step")


def _vector_columns(prefix, values, unit):
    import numpy

    columns = {f"{prefix}_{axis}_{unit}": values[:, index] for index, axis in enumerate("xyz")}
    columns[f"{prefix}_{unit}"] = numpy.linalg.norm(values, axis=1)
    return columns


def flight_frame(flight):
    """The flight as a pandas DataFrame, one row per sample. ``frame.attrs`` holds the
    results, the arguments and the configuration document (Parquet keeps them, CSV does not).
    """
    pandas = require("pandas", "a flight table")
    columns = {"t_s": flight.times}
    for names, values in ((("x_m", "y_m", "z_m"), flight.positions),
                          (("vx_m_per_s", "vy_m_per_s", "vz_m_per_s"), flight.velocities)):
        columns.update((name, values[:, index]) for index, name in enumerate(names))
    columns["mass_kg"] = flight.masses
    columns["believed_mass_kg"] = flight.believed_masses
    columns.update(_vector_columns("commanded_thrust", flight.thrust_commanded, "N"))
    columns.update(_vector_columns("actual_thrust", flight.thrust_actual, "N"))
    frame = pandas.DataFrame(columns)
    frame.index.name = "sample"
    frame.attrs = _json_value({name: getattr(flight, name) for name in (*RESULTS, *ARGUMENTS)})
    frame.attrs["errors"] = flight.errors.to_dict()
    frame.attrs["config"] = flight.config.to_json()
    return frame


def flight_document(flight):
    """The flight as a JSON-ready dict; non-finite numbers become None (JSON null)."""
    landing = flight.landing
    document = {"config": json.loads(flight.config.to_json())}
    document.update({name: getattr(flight, name) for name in ARGUMENTS})
    document["errors"] = flight.errors.to_dict()
    document["vehicle_errors"] = flight.vehicle_errors._asdict()
    document.update({name: getattr(flight, name) for name in RESULTS})
    document["first_plan"] = {name: getattr(landing, name) for name in (
        "ok", "status", "message", "time_of_flight", "final_mass", "fuel_used",
        "solve_seconds")}
    document["replans"] = [
        {**replan._asdict(), "knowledge": replan.knowledge._asdict()}
        for replan in flight.replans]
    document["samples"] = {name: getattr(flight, name).tolist() for name in (
        "times", "positions", "velocities", "masses", "believed_masses", "thrust_commanded",
        "thrust_actual")}
    return _json_value(document)


def flight_bytes(flight, suffix):
    """The file content of ``flight`` for a suffix of SAVE_SUFFIXES."""
    if suffix == ".json":
        text = json.dumps(flight_document(flight), indent=2, allow_nan=False)
        return (text + "\n").encode("utf-8")
    frame = flight_frame(flight)
    if suffix == ".csv":
        return frame.to_csv().encode("utf-8")
    buffer = io.BytesIO()
    try:
        frame.to_parquet(buffer)
    except ImportError as error:
        raise ImportError("Parquet files need pyarrow: pip install tarvo[table]") from error
    return buffer.getvalue()


def save_flight(flight, path):
    """Write ``flight`` to ``path``, its format chosen by the suffix (.csv, .json, .parquet)."""
    suffix = os.path.splitext(os.fspath(path))[1].lower()
    if suffix not in SAVE_SUFFIXES:
        raise ValueError(f"cannot save a flight as {os.fspath(path)!r}: the file name must "
                         f"end in {', '.join(SAVE_SUFFIXES)}")
    write_bytes_replacing(path, flight_bytes(flight, suffix))
