"""The study table: its outcome columns, and how one run's landing becomes a row."""

from __future__ import annotations

import math

from ..landing.landing import peak_thrust, touchdown_errors
from .._optional import require

__all__ = ["OUTCOME_COLUMNS", "pandas", "outcome_row", "build_table"]

# The outcome columns of a study table, after ``run`` and the sampled inputs, with their
# types; the numbers are NaN for a failed run. Units: s, kg, kg, N, m, m/s, -, s.
OUTCOME_COLUMNS = {
    "ok": "bool",
    "status": "str",
    "message": "object",  # None when ok
    "time_of_flight": "float64",
    "final_mass": "float64",
    "fuel_used": "float64",
    "peak_thrust": "float64",
    "touchdown_position_error": "float64",  # distance from the run's target at the last node
    "touchdown_velocity_error": "float64",  # speed relative to the run's target velocity there
    "iterations": "int64",
    "solve_seconds": "float64",
}


def pandas():
    return require("pandas", "a study table")


def outcome_row(landing) -> tuple:
    """One run's outcome, in `OUTCOME_COLUMNS` order; NaN numbers when the landing failed."""
    nan = math.nan
    iterations, seconds = int(landing.iterations), float(landing.solve_seconds)
    if not landing.ok:
        return (False, landing.status, landing.message, nan, nan, nan, nan, nan, nan,
                iterations, seconds)
    return (
        True, landing.status, None, float(landing.time_of_flight), float(landing.final_mass),
        float(landing.fuel_used), peak_thrust(landing), *touchdown_errors(landing),
        iterations, seconds,
    )


def build_table(input_columns: list[str], inputs: list, outcomes: list):
    """The study table: ``run``, the sampled inputs, then the outcome columns."""
    pd = pandas()
    columns = {"run": pd.array(range(len(inputs)), dtype="int64")}
    for index, name in enumerate(input_columns):
        columns[name] = pd.array([values[index] for values in inputs], dtype="float64")
    for index, (name, dtype) in enumerate(OUTCOME_COLUMNS.items()):
        columns[name] = pd.Series([row[index] for row in outcomes], dtype=dtype)
    return pd.DataFrame(columns)
