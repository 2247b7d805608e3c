"""Closed-loop Monte Carlo: every run of a study flown by `fly`, on threads or any executor.

Run ``i`` of a study with seed ``s`` flies with the seed `flight_seed` (s, i), drawn from
``SeedSequence(s, spawn_key=(i, 1))``: a stream of its own, apart from the run's dispersed
inputs (``spawn_key=(i,)``), so a run's flight depends on ``s`` and ``i`` only, whichever
worker flies it. Workers get the runs in their portable form and send back two table rows
per run, the first plan's and the flight's, never the flight itself.
"""

from __future__ import annotations

import concurrent.futures
import math
from collections.abc import Callable, Sequence
from dataclasses import dataclass
from typing import Any

from ..landing.batch import _positive_count, _ranges, default_chunksize, run_tasks
from ..landing.engine import WORKER_FAILED, default_workers, engine_options
from ..landing.landing import Landing
from ..landing.progress import BatchProgress
from .._portable import Portable, from_portable, to_portable
from .._tarvo import Config
from ..study.summary import wilson_interval
from ..study.table import outcome_row
from .errors import FlightErrors
from .fly import MIN_REPLAN_EVERY, _seconds, fly

__all__ = ["FLIGHT_COLUMNS", "flight_seed", "flight_row", "check_flight_options", "fly_runs",
           "fly_chunk", "FlightSummary", "flight_summary", "add_flight_columns"]

FLIGHT_STREAM = 1

# The flight columns of a closed-loop study table, after the first plan's outcome columns.
# Units: -, -, -, m, m/s, m, m, m, kg, -, -, s. NaN numbers for a run that did not fly.
FLIGHT_COLUMNS = {
    "landed": "bool",
    "flight_status": "str",
    "flight_message": "object",  # None when landed
    "flight_touchdown_position_error": "float64",
    "flight_touchdown_velocity_error": "float64",
    "flight_miss_x": "float64",  # touchdown position less the target position
    "flight_miss_y": "float64",
    "flight_miss_z": "float64",
    "flight_fuel_used": "float64",
    "replans": "int64",
    "failed_replans": "int64",
    "worst_guidance_seconds": "float64",  # the longest re-plan; NaN without re-plans
}


def flight_seed(seed: int, run: int) -> int:
    """The seed run ``run`` of a study with seed ``seed`` flies with (see the module text)."""
    import numpy

    sequence = numpy.random.SeedSequence(seed, spawn_key=(run, FLIGHT_STREAM))
    return int(sequence.generate_state(1, numpy.uint64)[0])


def flight_row(flight) -> tuple:
    """One run's flight, in `FLIGHT_COLUMNS` order."""
    miss = (flight.positions[-1] - flight.config.spacecraft.target_position
            if len(flight.positions) else (math.nan,) * 3)
    return (flight.ok, flight.status, flight.message, flight.touchdown_position_error,
            flight.touchdown_velocity_error, *(float(value) for value in miss),
            flight.fuel_used, len(flight.replans), flight.failed_replans,
            flight.worst_guidance_seconds)


def _failed_rows(portable: Portable, reason: str, method: str) -> tuple[tuple, tuple]:
    landing = Landing.failed(from_portable(portable), method, WORKER_FAILED, reason)
    nan = math.nan
    return outcome_row(landing), (False, WORKER_FAILED, reason, *(nan,) * 6, 0, 0, nan)


def check_flight_options(errors: Any, replan_every: Any) -> None:
    """Raise TypeError or ValueError for options `fly` would refuse, before any work."""
    if not isinstance(errors, FlightErrors):
        raise TypeError(f"errors must be a tarvo.FlightErrors, not {type(errors).__name__}")
    if replan_every is not None:
        _seconds("replan_every", replan_every, MIN_REPLAN_EVERY)


def fly_chunk(entries: Sequence[tuple[Portable, int]], errors: FlightErrors,
              replan_every: float | None, options: dict[str, str]) -> list[tuple[tuple, tuple]]:
    """Fly a chunk of (portable configuration, flight seed) in this process: an executor's
    task. Each run gives its first plan's row and its flight's row."""
    rows = []
    for portable, seed in entries:
        try:
            flight = fly(from_portable(portable), replan_every=replan_every, errors=errors,
                         seed=seed, **options)
        except Exception as error:  # a fault of this run alone
            rows.append(_failed_rows(portable, f"the flight raised {type(error).__name__}: "
                                               f"{error}", options["method"]))
            continue
        rows.append((outcome_row(flight.landing), flight_row(flight)))
    return rows


def fly_runs(runs: int, configs_of: Callable[[range], list[Config]],
             deliver: Callable[[range, list[tuple[tuple, tuple]]], object], seed: int,
             errors: FlightErrors, replan_every: float | None, *, workers=None, executor=None,
             progress=False, method="continuous", accuracy=None,
             unreachable="fail") -> None:
    """Fly runs 0 to ``runs`` - 1 (run ``i`` with `flight_seed` (seed, i)).

    ``configs_of(chosen)`` gives the configurations of a range of runs, called only as they
    are about to go out, so memory grows with the runs in flight and done, not with
    ``runs``; ``deliver(chosen, rows)`` receives each run's first plan's row and flight's
    row, in the order the ranges finish. Locally the runs go one at a time to ``workers``
    threads (default: the cores); the solves run without the interpreter lock. With
    ``executor`` they go in chunks, as for `tarvo.plan_many`; a chunk the executor fails to
    return becomes "WorkerFailed" rows.
    """
    check_flight_options(errors, replan_every)
    workers = _positive_count("workers", workers)
    engine_options(method, unreachable, accuracy)  # refuse a bad option before any work
    if executor is not None and workers is not None:
        raise ValueError("workers sizes the local thread pool; with an executor, "
                         "size the executor")
    options = {"method": method, "accuracy": accuracy, "unreachable": unreachable}

    def task(chosen: range):
        entries = [(to_portable(config), flight_seed(seed, run))
                   for run, config in zip(chosen, configs_of(chosen))]
        return entries, fly_chunk, (entries, errors, replan_every, options)

    def failed(chosen: range, entries, reason: str) -> list:
        reason = f"the executor failed on runs {chosen.start} to {chosen.stop - 1}: {reason}"
        return [_failed_rows(portable, reason, method) for portable, _ in entries]

    with BatchProgress(progress, runs) as bar:
        if executor is not None:
            chunks = _ranges(runs, default_chunksize(runs))
            run_tasks(executor, chunks, task, tuple, "runs", deliver, failed, bar)
            return
        with concurrent.futures.ThreadPoolExecutor(workers or default_workers()) as pool:
            run_tasks(pool, _ranges(runs, 1), task, tuple, "runs", deliver, failed, bar)


@dataclass(frozen=True)
class FlightSummary:
    """What the flights of a closed-loop study found: ``landings`` of ``runs``, the
    ``landing_rate`` (NaN without runs) with its Wilson 95 % ``landing_interval``; the
    touchdown position (m) and velocity (m/s) errors at P50, P95 and P99 over the runs that
    flew; the ``replans`` and ``failed_replans`` of all runs and the ``worst_guidance_seconds``
    of any re-plan."""

    runs: int
    landings: int
    landing_rate: float
    landing_interval: tuple[float, float]
    touchdown_position_error: tuple[float, float, float]
    touchdown_velocity_error: tuple[float, float, float]
    replans: int
    failed_replans: int
    worst_guidance_seconds: float

    def __str__(self) -> str:
        low, high = self.landing_interval
        rate = "n/a" if math.isnan(self.landing_rate) else f"{self.landing_rate * 100:.1f} %"

        def spread(values):
            return "  ".join(f"P{p} {value:.4g}" for p, value in zip((50, 95, 99), values))

        return "\n".join([
            f"landed:             {self.landings} ({rate}; "
            f"95 % interval {low * 100:.1f} % to {high * 100:.1f} %)",
            f"touchdown miss (m): {spread(self.touchdown_position_error)}",
            f"touchdown speed error (m/s): {spread(self.touchdown_velocity_error)}",
            f"re-plans:           {self.replans} ({self.failed_replans} failed); "
            f"worst guidance time {self.worst_guidance_seconds:.4g} s",
        ])


def flight_summary(table) -> FlightSummary:
    """The flight summary of a closed-loop study table."""
    import numpy

    runs = len(table)
    landings = int(table["landed"].astype(bool).sum())

    def percentiles(name):
        values = table[name].dropna().to_numpy()
        if not len(values):
            return (math.nan,) * 3
        return tuple(float(p) for p in numpy.percentile(values, [50, 95, 99]))

    guidance = table["worst_guidance_seconds"].dropna()
    return FlightSummary(
        runs=runs, landings=landings,
        landing_rate=landings / runs if runs else math.nan,
        landing_interval=wilson_interval(landings, runs),
        touchdown_position_error=percentiles("flight_touchdown_position_error"),
        touchdown_velocity_error=percentiles("flight_touchdown_velocity_error"),
        replans=int(table["replans"].sum()), failed_replans=int(table["failed_replans"].sum()),
        worst_guidance_seconds=float(guidance.max()) if len(guidance) else math.nan,
    )


def add_flight_columns(table, flights: list[tuple]):
    """The study table with the flight columns after its own."""
    import pandas

    columns = {name: pandas.Series([row[index] for row in flights], dtype=dtype,
                                   index=table.index)
               for index, (name, dtype) in enumerate(FLIGHT_COLUMNS.items())}
    return pandas.concat([table, pandas.DataFrame(columns)], axis=1)

