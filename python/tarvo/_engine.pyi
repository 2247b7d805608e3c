from collections.abc import Callable, Iterable
from typing import Any, Literal, TypedDict

import numpy
import numpy.typing

from ._portable import Portable

_FloatArray = numpy.typing.NDArray[numpy.float64]
_Accuracy = Literal["standard", "high"]
_Unreachable = Literal["fail", "closest"]
_Method = Literal["nodes", "continuous"]
_Failure = Literal["InvalidInput", "SolverStatus", "Infeasible", "Cancelled", "SolverError"]
# (time_of_flight, status or failure text, final_mass, iterations, failure, solver_status)
_TrialTuple = tuple[float, str, float, int, _Failure | None, str | None]

class PlannedLanding(TypedDict):
    """What plan() returns: one landing in plain values (not a class of the module)."""

    ok: bool
    status: str  # the final solve's solver status, or the failure text when not ok
    failure: _Failure | None  # what kind of failure, None when ok
    solver_status: str | None  # the solver's status name when failure is "SolverStatus"
    note: str  # what an option changed, "" when nothing
    time_of_flight: float  # NaN when not ok, as are the three below
    objective: float
    final_mass: float
    miss_distance: float
    iterations: int
    solve_seconds: float
    trials: list[_TrialTuple]
    solver: tuple[float, float, float, float] | None  # gap_abs, gap_rel, res_primal, res_dual
    positions: _FloatArray | None  # the arrays are None when not ok
    velocities: _FloatArray | None
    u_values: _FloatArray | None
    thrusts: _FloatArray | None
    normalized_thrusts: _FloatArray | None
    z_values: _FloatArray | None
    s_values: _FloatArray | None
    time_points: _FloatArray | None

def plan(
    portable: Portable,
    accuracy: _Accuracy = "standard",
    unreachable: _Unreachable = "fail",
    workers: int | None = None,
    on_trial: Callable[[float, str, float, int, _Failure | None, str | None], Any] | None = None,
    method: _Method = "nodes",
) -> PlannedLanding:
    """Plan one landing with the interpreter lock released; see the module's documentation."""

def plan_batch(
    portables: Iterable[Portable],
    accuracy: _Accuracy = "standard",
    unreachable: _Unreachable = "fail",
    workers: int | None = None,
    on_landing: Callable[[int], Any] | None = None,
    method: _Method = "nodes",
) -> list[PlannedLanding | BaseException]:
    """Plan many landings on a pool of threads, results in input order."""
