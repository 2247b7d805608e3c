"""Monte Carlo dispersion studies: many landings around a nominal configuration, as a table.

`monte_carlo` draws each run's inputs (see `tarvo.study.dispersions` for the order of draws),
plans every run as `tarvo.plan_many` does (the engine's thread pool, or any executor) and
returns a `Study`: one table row per run, a summary, a figure, and a file that keeps both.
"""

from __future__ import annotations

import copy
import numbers
from typing import Mapping

from .dispersions import DispersionPlan, non_negative_integer
from ..landing.batch import Batch
from ..landing.engine import engine_options
from .summary import StudySummary, summarise
from .table import build_table, outcome_row, pandas
from .._portable import same_values, to_portable
from .._tarvo import Config

__all__ = ["monte_carlo", "Study"]

def monte_carlo(config, dispersions, runs, *, seed, workers=None, executor=None,
                progress=False, method="continuous", accuracy=None, unreachable="fail",
                errors=None, replan_every=1.0) -> "Study":
    """Plan ``runs`` landings around ``config`` with randomly dispersed inputs.

    ``dispersions`` maps field paths ("spacecraft.initial_position", "spacecraft.wet_mass",
    "environment.gravity", "solver.time_of_flight", ...) to `tarvo.normal` or `tarvo.uniform`
    deviates added to the nominal values. Run ``i``'s inputs depend only on ``seed`` and ``i``,
    so the same seed gives the same table whatever ``workers`` or ``executor`` (these,
    ``progress`` and the planning options ``method``, ``accuracy`` and ``unreachable`` are
    those of `tarvo.plan_many`). The runs are drawn a block at a time as they go out to be
    planned, so memory grows with the runs done and ``progress`` moves from the start. Every
    problem with the arguments is raised before any landing is planned; a landing that fails
    is a table row with ``ok`` false.

    With ``errors`` (a `tarvo.FlightErrors`) every run is also flown by `tarvo.fly`,
    re-planning every ``replan_every`` seconds (None: open loop), with a seed of its own
    (`tarvo.flight.study.flight_seed`); the table gains the flight columns and the summary
    the landing rate and touchdown errors. Without ``errors`` ``replan_every`` is unused.
    """
    plan = DispersionPlan(config, dispersions)
    seed = non_negative_integer("seed", seed)
    runs = non_negative_integer("runs", runs)
    pandas()  # fail before the work if the table cannot be built
    engine_options(method, unreachable, accuracy)
    if errors is not None:
        from ..flight.study import check_flight_options

        check_flight_options(errors, replan_every)
        return _flown_study(config, plan, seed, runs, errors, replan_every,
                            workers=workers, executor=executor, progress=progress,
                            method=method, accuracy=accuracy, unreachable=unreachable)
    batch = Batch(runs, workers=workers, executor=executor, progress=progress,
                  method=method, unreachable=unreachable, accuracy=accuracy)
    drawn = DrawnRuns(plan, seed)
    batch.run(drawn.configs, drawn.keep)
    inputs, outcomes = drawn.in_order()
    if len(outcomes) != runs:
        raise RuntimeError(f"planning returned {len(outcomes)} landings for {runs} runs")
    table = build_table(plan.columns(), inputs, outcomes)
    return Study(table, config=config, dispersions=plan.distributions, seed=seed)


class DrawnRuns:
    """A study's runs, drawn a range at a time as they go out to be planned, and each
    range's sampled inputs and rows as its results come back (``row_of`` makes a result's
    row: by default the outcome row of a landing)."""

    def __init__(self, plan: DispersionPlan, seed: int, row_of=outcome_row):
        self.plan, self.seed, self.row_of = plan, seed, row_of
        self._in_flight: dict[int, list] = {}  # first run of a range -> its inputs
        self._done: dict[int, tuple[list, list]] = {}  # -> its inputs and rows

    def configs(self, runs: range) -> list:
        """The configurations of ``runs``; their inputs are kept until they return."""
        inputs = [self.plan.draw(self.seed, run) for run in runs]
        self._in_flight[runs.start] = inputs
        return [self.plan.config(values) for values in inputs]

    def keep(self, runs: range, results: list) -> None:
        inputs = self._in_flight.pop(runs.start)
        self._done[runs.start] = inputs, [self.row_of(result) for result in results]

    def in_order(self) -> tuple[list, list]:
        """Every returned run's inputs and row, in run order."""
        inputs, outcomes = [], []
        for start in sorted(self._done):
            drawn, rows = self._done[start]
            inputs += drawn
            outcomes += rows
        return inputs, outcomes


def _flown_study(config, plan, seed, runs, errors, replan_every, **options):
    from ..flight.study import add_flight_columns, fly_runs

    drawn = DrawnRuns(plan, seed, row_of=lambda rows: rows)  # (first plan's, flight's)
    fly_runs(runs, drawn.configs, drawn.keep, seed, errors, replan_every, **options)
    inputs, rows = drawn.in_order()
    if len(rows) != runs:
        raise RuntimeError(f"flying returned {len(rows)} flights for {runs} runs")
    outcomes, flights = [plan_row for plan_row, _ in rows], [flight for _, flight in rows]
    table = add_flight_columns(build_table(plan.columns(), inputs, outcomes), flights)
    return Study(table, config=config, dispersions=plan.distributions, seed=seed,
                 errors=errors, replan_every=replan_every)


class Study:
    """The result of `tarvo.monte_carlo`.

    - ``table``: a pandas DataFrame, one row per run: ``run``, the sampled inputs (a column per
      scalar field, e.g. "spacecraft.wet_mass", and per vector component, e.g.
      "spacecraft.initial_position[0]"), then ``ok``, ``status``, ``message`` (None when ok),
      ``time_of_flight`` (s), ``final_mass``, ``fuel_used`` (kg), ``peak_thrust`` (N),
      ``touchdown_position_error`` (m) and ``touchdown_velocity_error`` (m/s) against the run's
      target, ``iterations`` and ``solve_seconds``. Outcome numbers are NaN for a failed run.
    - ``config`` (the nominal `Config`), ``dispersions`` (path -> distribution) and ``seed``;
      None for a table read from a file that does not record them.
    - A closed-loop study (``errors`` given) adds the flight columns of
      `tarvo.flight.study.FLIGHT_COLUMNS` (``landed``, ``flight_status``, the touchdown errors
      and miss, ``flight_fuel_used``, ``replans``, ``failed_replans``,
      ``worst_guidance_seconds``) and keeps ``errors`` and ``replan_every``; both are None
      otherwise.

    Two studies are equal when their configurations, dispersions, seeds, flight options and
    tables are, a NaN matching a NaN, the wall times aside (``solve_seconds``,
    ``worst_guidance_seconds``). A study can change (its ``table`` is a DataFrame), so it
    has no hash.
    """

    def __init__(self, table, *, config=None, dispersions=None, seed=None, errors=None,
                 replan_every=None):
        self.table = table
        self.errors = errors
        self.replan_every = replan_every if errors is not None else None
        self._config = copy.copy(config) if config is not None else None
        self.dispersions = dict(dispersions) if dispersions is not None else None
        self.seed = seed

    @property
    def config(self):
        """A copy of the nominal configuration."""
        return copy.copy(self._config) if self._config is not None else None

    @property
    def runs(self) -> int:
        return len(self.table)

    def summary(self) -> StudySummary:
        """Success rate with its Wilson 95 % interval, spreads of fuel and time of flight over
        the successful runs, and the failures counted by status."""
        return summarise(self.table)

    def run_config(self, run: int) -> Config:
        """The configuration that run ``run`` planned, drawn again from the seed."""
        if self._config is None or self.dispersions is None or self.seed is None:
            raise ValueError("this study does not record its configuration, dispersions and seed")
        integer = isinstance(run, numbers.Integral) and not isinstance(run, bool)
        if not integer or not 0 <= run < self.runs:
            raise IndexError(f"run must be an integer from 0 to {self.runs - 1}, got {run!r}")
        plan = DispersionPlan(self._config, self.dispersions)
        return plan.config(plan.draw(self.seed, int(run)))

    def run_flight(self, run: int, **options):
        """The flight of run ``run`` of a closed-loop study, flown again: ``options`` are
        `tarvo.fly`'s planning options (the study's ``unreachable`` and ``accuracy``)."""
        if self.errors is None:
            raise ValueError("this study flew no runs (it was made without errors)")
        from ..flight.fly import fly
        from ..flight.study import flight_seed

        return fly(self.run_config(run), replan_every=self.replan_every, errors=self.errors,
                   seed=flight_seed(self.seed, int(run)), **options)

    def plot(self):
        """A matplotlib Figure: fuel histogram, initial positions by outcome, time of flight
        against fuel."""
        from .plot import study_figure

        return study_figure(self)

    def save(self, path) -> None:
        """Write the table to ``path``: Parquet (.parquet) or CSV (.csv), with the nominal
        configuration, the dispersions and the seed (see `tarvo.study.files`)."""
        from .files import save_study

        save_study(self, path)

    @classmethod
    def load(cls, path) -> "Study":
        """Read a study written by `save`."""
        from .files import load_study

        return load_study(cls, path)

    def __eq__(self, other) -> bool:
        if not isinstance(other, Study):
            return NotImplemented
        return (self.seed == other.seed and self.dispersions == other.dispersions
                and self.errors == other.errors and self.replan_every == other.replan_every
                and same_config(self._config, other._config)
                and _outcomes(self.table).equals(_outcomes(other.table)))

    __hash__ = None  # mutable

    def __repr__(self) -> str:
        successes = int(self.table["ok"].sum()) if self.runs else 0
        return f"Study(runs={self.runs}, successes={successes}, seed={self.seed})"


def same_config(a, b) -> bool:
    """Whether two optional configurations have the same field values (NaN matching NaN)."""
    if a is None or b is None:
        return a is b
    return same_values(to_portable(a), to_portable(b))


def _outcomes(table):
    """The table without its wall-clock columns."""
    return table.drop(columns=["solve_seconds", "worst_guidance_seconds"], errors="ignore")
