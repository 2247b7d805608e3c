"""`Landing`: the outcome of one planned landing, as an immutable, picklable value."""

from __future__ import annotations

import math
from collections.abc import Iterable
from typing import TYPE_CHECKING, Any, NamedTuple

from .._portable import Portable, copy_config, from_portable, same_values, to_portable
from .._text import fixed
from .._tarvo import Config

if TYPE_CHECKING:
    import os

    import numpy
    import numpy.typing
    from matplotlib.figure import Figure
    from pandas import DataFrame

    from .verification import Verification

    FloatArray = numpy.typing.NDArray[numpy.float64]

__all__ = ["Landing", "Trial", "SolverFigures", "peak_thrust", "touchdown_errors", "METHODS",
           "VERIFICATION_FAILED"]

# The planning methods: a landing that holds every limit between the nodes too, and the
# fixed formulation that holds them at the nodes, exactly as `tarvo.solve`.
METHODS = ("continuous", "nodes")
VERIFICATION_FAILED = "VerificationFailed"


class Trial(NamedTuple):
    """One fixed-horizon solve of a landing, in the order it was made.

    ``status`` is the conic solver's verdict ("Solved", "AlmostSolved", "PrimalInfeasible",
    ...); ``final_mass`` (kg) is -inf when the trial failed.
    """

    time_of_flight: float
    status: str
    final_mass: float


class SolverFigures(NamedTuple):
    """How accurately the final solve of a landing converged, as the conic solver reports it.

    ``gap_abs`` and ``gap_rel`` are the absolute and relative duality gap, ``res_primal``
    and ``res_dual`` the primal and dual residuals, all at the solver's last iteration.
    """

    gap_abs: float
    gap_rel: float
    res_primal: float
    res_dual: float


# Per-node arrays, named as on `PyTrajectory`, with the shape of one node's entry.
NODE_ARRAYS: dict[str, tuple[int, ...]] = {
    "positions": (3,),
    "velocities": (3,),
    "u_values": (3,),
    "thrusts": (),
    "normalized_thrusts": (),
    "z_values": (),
    "s_values": (),
    "time_points": (),
}

# Scalar attributes and the conversion each value goes through.
_SCALARS = {
    "ok": bool,
    "method": str,
    "status": str,
    "message": lambda text: None if text is None else str(text),
    "time_of_flight": float,
    "objective": float,
    "final_mass": float,
    "iterations": int,
    "solve_seconds": float,
    "miss_distance": float,
}


def _frozen_array(values: Any, per_node: tuple[int, ...]) -> FloatArray:
    """A float64 copy of ``values`` that nothing can write to.

    The array is a view of an immutable bytes object, so not even resetting its
    ``writeable`` flag (or its base's) opens it for writing.
    """
    import numpy

    data = numpy.ascontiguousarray(values, dtype=numpy.float64)
    return numpy.frombuffer(data.tobytes(), dtype=numpy.float64).reshape((-1, *per_node))


def _trials(values: Iterable[Any]) -> tuple[Trial, ...]:
    return tuple(Trial(float(tof), str(status), float(mass)) for tof, status, mass in values)


def _solver_figures(values: Iterable[Any] | None) -> SolverFigures | None:
    return None if values is None else SolverFigures(*(float(value) for value in values))


class Landing:
    """One landing planned by `tarvo.plan`: the trajectory, or why there is none.

    Like scipy's ``OptimizeResult``, a failure is a value with ``ok`` false and the reason
    in ``message``, not an exception. A `Landing` cannot be changed; it pickles and copies.
    The planning engine makes landings without this constructor (the same attributes, set
    once); the constructor serves failed entries, unpickling and users.

    Attributes
    ----------
    config : Config
        The planned configuration (a new copy on every read).
    method : {"continuous", "nodes"}
        How it was planned (see `tarvo.plan`).
    ok : bool
        Whether a trajectory was found that stands as planned: with the continuous method
        one that also passed its `verification`.
    status : str
        The solver status of the final solve ("Solved", "AlmostSolved"), or what stopped
        the landing: a solver status name ("PrimalInfeasible", ...), "Infeasible" (no time
        of flight lands), "InvalidInput" (the message names the field), "SolverError",
        "VerificationFailed" (continuous method: the trajectory failed a check of its
        verification; its arrays are kept), or "WorkerFailed" (`plan_many`: the worker or
        executor failed on this entry).
    message : str or None
        When not ok, the reason: for the nodes method and a failed solve the very text
        `tarvo.solve` raises; for "VerificationFailed" the checks that failed. When ok,
        what a planning option changed (the closest landing to an unreachable target,
        say), or None when nothing.
    verification : Verification or None
        The checks of the trajectory against its physics (`Landing.verify`), made once when
        the landing was made; None without a trajectory. With the nodes method it does not
        change ``ok`` or ``status``: that method is the fixed formulation kept exactly,
        which bounds the thrust at the nodes only, so its landings may fail a check between
        nodes and are still returned as the program solved them.
    time_of_flight : float
        Time of flight (s); NaN without a trajectory.
    positions, velocities, u_values : ndarray, shape (N, 3)
        Per node: position (m), velocity (m/s), thrust acceleration (m/s²).
    thrusts, normalized_thrusts, z_values, s_values, time_points : ndarray, shape (N,)
        Per node: thrust (N), thrust over the engine's maximum, log-mass, the bound on
        ``|u|`` (m/s²), time (s).
    masses : ndarray, shape (N,)
        Mass at every node (kg), ``exp(z_values)``.
    final_mass, fuel_used : float
        Mass at touchdown and wet mass less that (kg); NaN without a trajectory.
    objective : float
        The maximised final log-mass; NaN without a trajectory.
    trials : tuple of Trial
        The fixed-horizon solves of the landing in order: one for a fixed time of flight,
        each trial the search used otherwise (36 for a search of the nodes method that
        found a landing: 13 grid points, 22 golden-section points and the final solve).
    iterations : int
        Interior-point iterations of every solve the planning ran: failed trials and,
        when a search runs trials at once, speculative ones included.
    solve_seconds : float
        Wall time of the planning (s).
    miss_distance : float
        Distance from the target at touchdown (m): 0 when the target is reached, NaN
        without a trajectory.
    solver : SolverFigures or None
        Duality gap and residuals of the final solve; None without a trajectory.

    The arrays are read-only and empty without a trajectory.

    Two landings are equal when they plan the same configuration to the same results:
    every attribute but ``solve_seconds`` (a measure of the run, not of the landing) is
    equal, a NaN matching a NaN. Equal landings hash alike, so a landing can be a key.

    Methods: ``plot()`` (a matplotlib Figure), ``to_frame()`` (a pandas DataFrame),
    ``save(path)`` (.csv, .json or .parquet) and ``verify()`` (the `Verification`).
    """

    __slots__ = ("_config", *_SCALARS, *NODE_ARRAYS, "masses", "fuel_used", "trials", "solver",
                 "verification")

    ok: bool
    method: str
    status: str
    message: str | None
    time_of_flight: float
    objective: float
    final_mass: float
    fuel_used: float
    iterations: int
    solve_seconds: float
    miss_distance: float
    trials: tuple[Trial, ...]
    solver: SolverFigures | None
    verification: Verification | None
    positions: FloatArray
    velocities: FloatArray
    u_values: FloatArray
    thrusts: FloatArray
    normalized_thrusts: FloatArray
    z_values: FloatArray
    s_values: FloatArray
    time_points: FloatArray
    masses: FloatArray

    def __init__(
        self, config: Config, *, ok: bool, method: str, status: str, message: str | None,
        time_of_flight: float, objective: float, final_mass: float,
        trials: Iterable[Any], iterations: int, solve_seconds: float, miss_distance: float,
        positions: Any, velocities: Any, u_values: Any, thrusts: Any,
        normalized_thrusts: Any, z_values: Any, s_values: Any, time_points: Any,
        solver: Iterable[Any] | None = None, verification: Verification | None = None,
    ) -> None:
        """``verification`` is the verification of these very values when it is already
        made (a landing rebuilt from another); by default it is made here for a landing
        with nodes."""
        if not isinstance(config, Config):
            raise TypeError(f"Landing() expects a Config, not {type(config).__name__}")
        if method not in METHODS:
            raise ValueError(f"method must be {' or '.join(map(repr, METHODS))}, not {method!r}")
        values = locals()  # the keyword arguments by name
        fields: dict[str, Any] = {"_config": copy_config(config), "trials": _trials(trials),
                                  "solver": _solver_figures(solver)}
        fields.update((name, convert(values[name])) for name, convert in _SCALARS.items())
        fields.update(
            (name, _frozen_array(values[name], per_node)) for name, per_node in NODE_ARRAYS.items()
        )
        fields["masses"] = _frozen_array(_exp(fields["z_values"]), ())
        fields["fuel_used"] = config.spacecraft.wet_mass - fields["final_mass"]
        fields["verification"] = verification
        for name, value in fields.items():
            object.__setattr__(self, name, value)
        if verification is None and len(self.z_values):
            from .verify import verify_landing

            object.__setattr__(self, "verification", verify_landing(self))

    @classmethod
    def failed(cls, config: Config, method: str, status: str, message: str,
               **values: Any) -> Landing:
        """A landing without a trajectory: empty arrays, NaN numbers; ``values`` override."""
        fields: dict[str, Any] = dict(
            ok=False, method=method, status=status, message=message, time_of_flight=math.nan,
            objective=math.nan, final_mass=math.nan, trials=(), iterations=0,
            solve_seconds=0.0, miss_distance=math.nan,
        )
        fields.update(dict.fromkeys(NODE_ARRAYS, ()))
        fields.update(values)
        return cls(config, **fields)

    @property
    def config(self) -> Config:
        """The planned configuration (a new copy on every read)."""
        return copy_config(self._config)

    def plot(self, **options: Any) -> Figure:
        """A matplotlib Figure of the landing; see `tarvo.landing.plot.plot_landing`."""
        from .plot import plot_landing

        return plot_landing(self, **options)

    def to_frame(self) -> DataFrame:
        """A pandas DataFrame, one row per node; see `tarvo.landing.tables.landing_frame`."""
        from .tables import landing_frame

        return landing_frame(self)

    def save(self, path: str | os.PathLike[str]) -> None:
        """Write a .csv, .json or .parquet file by the suffix; see `tarvo.landing.tables.save_landing`."""
        from .tables import save_landing

        return save_landing(self, path)

    def verify(self) -> Verification:
        """The checks of the landing against the physics it stands for, made when the
        landing was made (see `tarvo.landing.verify.verify_landing`).

        Raises ValueError for a landing without a trajectory.
        """
        if self.verification is None:
            raise ValueError(f"cannot verify a failed landing: {self.message}")
        return self.verification

    def __setattr__(self, name: str, value: Any) -> None:
        raise AttributeError(f"Landing is immutable: cannot set '{name}'")

    def __delattr__(self, name: str) -> None:
        raise AttributeError(f"Landing is immutable: cannot delete '{name}'")

    @property
    def _values(self) -> dict[str, Any]:
        """The keyword arguments that rebuild this landing with `Landing(config, **...)`."""
        names = (*_SCALARS, *NODE_ARRAYS, "trials", "solver")
        return {name: getattr(self, name) for name in names}

    def __reduce__(self) -> tuple[Any, ...]:
        return _rebuild, (to_portable(self._config), self._values, self.verification)

    def __eq__(self, other: object) -> bool:
        if not isinstance(other, Landing):
            return NotImplemented
        mine, theirs = self._values, other._values
        return same_values(to_portable(self._config), to_portable(other._config)) and all(
            same_values(mine[name], theirs[name]) for name in mine if name != "solve_seconds")

    def __hash__(self) -> int:
        return hash((self.ok, self.status, self.message, len(self.time_points)))

    def __copy__(self) -> Landing:
        return self

    def __deepcopy__(self, memo: dict[int, Any]) -> Landing:
        return self

    def __repr__(self) -> str:
        if not self.ok:
            return (f"Landing(ok=False, method={self.method!r}, status={self.status!r}, "
                    f"message={self.message!r})")
        return (
            f"Landing(ok=True, method={self.method!r}, status={self.status!r}, "
            f"time_of_flight={fixed(self.time_of_flight)}, "
            f"final_mass={fixed(self.final_mass)}, fuel_used={fixed(self.fuel_used)}, "
            f"nodes={len(self.time_points)}, "
            f"trials={len(self.trials)})"
        )


def _exp(values: FloatArray) -> FloatArray:
    import numpy

    return numpy.exp(values)


def peak_thrust(landing: Landing) -> float:
    """The highest thrust at a node (N); NaN without nodes."""
    return float(landing.thrusts.max()) if len(landing.thrusts) else math.nan


def touchdown_errors(landing: Landing) -> tuple[float, float]:
    """How far the last node is from the target: its distance from the target position (m)
    and its speed relative to the target velocity (m/s); NaN without nodes."""
    if not len(landing.positions):
        return math.nan, math.nan
    spacecraft = landing.config.spacecraft
    return (math.dist(landing.positions[-1], spacecraft.target_position),
            math.dist(landing.velocities[-1], spacecraft.target_velocity))


def _rebuild(portable: Portable, arguments: dict[str, Any],
             verification: Verification | None = None) -> Landing:
    return Landing(from_portable(portable), verification=verification, **arguments)
