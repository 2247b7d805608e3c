"""`Flight` and `Replan`: the outcome of one flown landing, as immutable, picklable values."""

from __future__ import annotations

import math
from collections.abc import Iterable
from typing import TYPE_CHECKING, Any, NamedTuple

from ..landing.landing import Landing, _frozen_array
from .._portable import Portable, from_portable, same_values, to_portable
from .._text import fixed
from .._tarvo import Config
from .errors import FlightErrors, KnowledgeErrors, VehicleErrors

if TYPE_CHECKING:
    import os

    import numpy
    import numpy.typing
    from matplotlib.figure import Figure
    from pandas import DataFrame

    FloatArray = numpy.typing.NDArray[numpy.float64]

__all__ = ["Flight", "Replan", "LANDED", "MISSED_TARGET", "OUT_OF_FUEL", "GUIDANCE_FAILED",
           "LANDING_POSITION_TOLERANCE", "LANDING_VELOCITY_TOLERANCE"]

LANDED, MISSED_TARGET = "Landed", "MissedTarget"
OUT_OF_FUEL, GUIDANCE_FAILED = "OutOfFuel", "GuidanceFailed"

# What counts as landed: the touchdown within this distance of the target position (m) and
# this speed relative to the target velocity (m/s).
LANDING_POSITION_TOLERANCE = 2.0
LANDING_VELOCITY_TOLERANCE = 3.0


class Replan(NamedTuple):
    """One re-plan of a flight, in the order they were made.

    ``time`` (s from the start) when it was made; ``ok``, ``status`` and ``message`` those of
    its `Landing` (a failed re-plan leaves the vehicle flying the plan before it);
    ``time_to_go`` (s) to the end of the flight; ``nodes`` of the plan; ``final_mass`` (kg)
    the plan's, NaN when it failed; ``solve_seconds`` the wall time of the re-plan, the
    guidance time; ``knowledge`` the navigation errors drawn for it; ``thrust_ceiling`` the
    plan's thrust limit as a fraction of real_max_thrust: ``max_thrust_pct``, or 1 when only
    the engine's whole range held a landing.
    """

    time: float
    ok: bool
    status: str
    message: str | None
    time_to_go: float
    nodes: int
    final_mass: float
    solve_seconds: float
    knowledge: KnowledgeErrors
    thrust_ceiling: float


# Per-sample arrays with the shape of one sample's entry.
SAMPLE_ARRAYS: dict[str, tuple[int, ...]] = {
    "times": (),
    "positions": (3,),
    "velocities": (3,),
    "masses": (),
    "believed_masses": (),
    "thrust_commanded": (3,),
    "thrust_actual": (3,),
}

_SCALARS = {
    "seed": int,
    "replan_every": lambda value: None if value is None else float(value),
    "sample_step": float,
    "status": str,
    "message": lambda text: None if text is None else str(text),
    "touchdown_time": float,
    "touchdown_position_error": float,
    "touchdown_velocity_error": float,
    "final_mass": float,
    "replanning_stopped": lambda value: None if value is None else float(value),
}


class Flight:
    """One landing flown by `tarvo.fly`: the path, the re-plans, where it touched down.

    A `Flight` cannot be changed; it pickles and copies. Two flights are equal when all
    they record is, NaNs matching, except the wall times (``Replan.solve_seconds`` and the
    first plan's), which no two runs share.

    Attributes
    ----------
    config : Config
        The flown configuration (a new copy on every read).
    seed, replan_every, sample_step, errors
        The arguments of `tarvo.fly`; ``errors`` a `FlightErrors` (zeros for none).
    vehicle_errors : VehicleErrors
        The errors drawn for this flight (thrust bias, misalignment, disturbance, mass flow).
    ok, status, message
        ``ok`` when the status is "Landed": touched down within
        ``LANDING_POSITION_TOLERANCE`` (2 m) of the target position and
        ``LANDING_VELOCITY_TOLERANCE`` (3 m/s) of its velocity. Otherwise "MissedTarget",
        "OutOfFuel" (the fuel ran out before touchdown) or "GuidanceFailed" (no first plan;
        nothing was flown). ``message`` says what happened; None when landed.
    times, masses, believed_masses : ndarray, shape (S,)
        Sample times (s, every ``sample_step`` and at touchdown), the true mass and the mass
        the guidance believes (kg).
    positions, velocities : ndarray, shape (S, 3)
        The true position (m) and velocity (m/s).
    thrust_commanded, thrust_actual : ndarray, shape (S, 3)
        The thrust the guidance commands and the thrust the engine delivers (N).
    touchdown_time : float
        When the flight ended (s): the plan's last node, or the vehicle reaching the target's
        altitude before it.
    touchdown_position_error, touchdown_velocity_error : float
        Distance from the target position (m) and speed relative to the target velocity
        (m/s) at touchdown.
    final_mass, fuel_used : float
        True mass at touchdown and the wet mass less that (kg).
    landing : Landing
        The first plan.
    replans : tuple of Replan
        Every re-plan, in order; empty for an open-loop flight.
    replan_paths : tuple of ndarray, shape (n, 3)
        The planned positions of each re-plan (empty when it failed).
    replanning_stopped : float or None
        When the guidance stopped re-planning because too few nodes would remain (s).

    The arrays are read-only. Methods: ``plot()``, ``to_frame()``, ``save(path)``.
    """

    __slots__ = ("_config", "errors", "vehicle_errors", "landing", "replans", "replan_paths",
                 *_SCALARS, *SAMPLE_ARRAYS)

    errors: FlightErrors
    vehicle_errors: VehicleErrors
    landing: Landing
    replans: tuple[Replan, ...]
    replan_paths: tuple[FloatArray, ...]
    seed: int
    replan_every: float | None
    sample_step: float
    status: str
    message: str | None
    touchdown_time: float
    touchdown_position_error: float
    touchdown_velocity_error: float
    final_mass: float
    replanning_stopped: float | None
    times: FloatArray
    positions: FloatArray
    velocities: FloatArray
    masses: FloatArray
    believed_masses: FloatArray
    thrust_commanded: FloatArray
    thrust_actual: FloatArray

    def __init__(
        self, config: Config, *, errors: FlightErrors, vehicle_errors: VehicleErrors,
        landing: Landing, replans: Iterable[Replan], replan_paths: Iterable[Any],
        **values: Any,
    ) -> None:
        fields: dict[str, Any] = {
            "_config": to_portable(config), "errors": errors,
            "vehicle_errors": VehicleErrors(*vehicle_errors), "landing": landing,
            "replans": tuple(_replan(replan) for replan in replans),
            "replan_paths": tuple(_frozen_array(path, (3,)) for path in replan_paths),
        }
        fields.update((name, convert(values[name])) for name, convert in _SCALARS.items())
        fields.update((name, _frozen_array(values[name], shape))
                      for name, shape in SAMPLE_ARRAYS.items())
        for name, value in fields.items():
            object.__setattr__(self, name, value)

    @property
    def config(self) -> Config:
        """The flown configuration (a new copy on every read)."""
        return from_portable(self._config)

    @property
    def ok(self) -> bool:
        return self.status == LANDED

    @property
    def fuel_used(self) -> float:
        return from_portable(self._config).spacecraft.wet_mass - self.final_mass

    @property
    def failed_replans(self) -> int:
        return sum(not replan.ok for replan in self.replans)

    @property
    def worst_guidance_seconds(self) -> float:
        """The longest re-plan's wall time (s); NaN without re-plans."""
        return max((replan.solve_seconds for replan in self.replans), default=math.nan)

    @property
    def median_guidance_seconds(self) -> float:
        """The median re-plan wall time (s); NaN without re-plans."""
        import statistics

        times = [replan.solve_seconds for replan in self.replans]
        return statistics.median(times) if times else math.nan

    def plot(self, **options: Any) -> Figure:
        """A matplotlib Figure of the flight; see `tarvo.flight.plot.plot_flight`."""
        from .plot import plot_flight

        return plot_flight(self, **options)

    def to_frame(self) -> DataFrame:
        """A pandas DataFrame, one row per sample; see `tarvo.flight.tables.flight_frame`."""
        from .tables import flight_frame

        return flight_frame(self)

    def save(self, path: str | os.PathLike[str]) -> None:
        """Write a .csv, .json or .parquet file by the suffix; see `tarvo.flight.tables`."""
        from .tables import save_flight

        save_flight(self, path)

    def __setattr__(self, name: str, value: Any) -> None:
        raise AttributeError(f"Flight is immutable: cannot set '{name}'")

    def __delattr__(self, name: str) -> None:
        raise AttributeError(f"Flight is immutable: cannot delete '{name}'")

    @property
    def _values(self) -> dict[str, Any]:
        """The keyword arguments that rebuild this flight with `Flight(config, **...)`."""
        names = ("errors", "vehicle_errors", "landing", "replans", "replan_paths",
                 *_SCALARS, *SAMPLE_ARRAYS)
        return {name: getattr(self, name) for name in names}

    def __reduce__(self) -> tuple[Any, ...]:
        return _rebuild, (self._config, self._values)

    def __copy__(self) -> Flight:
        return self

    def __deepcopy__(self, memo: dict[int, Any]) -> Flight:
        return self

    def __eq__(self, other: object) -> bool:
        if not isinstance(other, Flight):
            return NotImplemented
        return (same_values(self._config, other._config)
                and same_values(_comparable(self._values), _comparable(other._values)))

    __hash__ = None  # type: ignore[assignment]  # equal by value, like a NumPy array

    def __repr__(self) -> str:
        if self.status == GUIDANCE_FAILED:
            return f"Flight(ok=False, status={self.status!r}, message={self.message!r})"
        return (
            f"Flight(ok={self.ok}, status={self.status!r}, "
            f"touchdown_position_error={fixed(self.touchdown_position_error)}, "
            f"touchdown_velocity_error={fixed(self.touchdown_velocity_error)}, "
            f"fuel_used={fixed(self.fuel_used)}, replans={len(self.replans)}, "
            f"failed_replans={self.failed_replans})"
        )


def _replan(values: Any) -> Replan:
    time, ok, status, message, time_to_go, nodes, final_mass, seconds, knowledge, ceiling = values
    position, velocity = knowledge
    return Replan(float(time), bool(ok), str(status), None if message is None else str(message),
                  float(time_to_go), int(nodes), float(final_mass), float(seconds),
                  KnowledgeErrors(tuple(map(float, position)), tuple(map(float, velocity))),
                  float(ceiling))


def _comparable(values: dict[str, Any]) -> dict[str, Any]:
    """A flight's values without its wall times (a landing's equality leaves its own out)."""
    values = dict(values)
    values["replans"] = tuple(replan._replace(solve_seconds=0.0)
                              for replan in values["replans"])
    return values


def _rebuild(portable: Portable, arguments: dict[str, Any]) -> Flight:
    return Flight(from_portable(portable), **arguments)
