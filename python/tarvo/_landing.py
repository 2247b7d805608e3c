"""`Landing`: the outcome of one planned landing, as an immutable, picklable value."""

from __future__ import annotations

import math
from typing import Any, NamedTuple

__all__ = ["Landing", "Trial"]


class Trial(NamedTuple):
    """One fixed-horizon solve of a time-of-flight search, in the order it was made."""

    time_of_flight: float
    status: str
    final_mass: float  # kg; -inf when the trial failed


# Per-node arrays, named as on `PyTrajectory`, with their shape per node.
_NODE_ARRAYS = {
    "positions": (3,),
    "velocities": (3,),
    "thrusts": (),
    "normalized_thrusts": (),
    "z_values": (),
    "u_values": (3,),
    "s_values": (),
    "time_points": (),
}

_SCALARS = (
    "ok",
    "status",
    "message",
    "time_of_flight",
    "objective",
    "final_mass",
    "trials",
    "iterations",
    "solve_seconds",
    "miss_distance",
)


def _frozen_array(values: Any, per_node: tuple[int, ...]):
    import numpy

    array = numpy.array(values, dtype=numpy.float64, copy=True).reshape((-1, *per_node))
    array.flags.writeable = False
    return array


class Landing:
    """One landing planned by `tarvo.plan`: the trajectory, or why there is none.

    Follows scipy's ``OptimizeResult``: a failure is a value with ``ok`` false and the
    reason in ``message``, never an exception. Attributes:

    - ``config``: the `Config` that was planned (a copy).
    - ``ok``: whether a trajectory was found; ``message`` is None when ok, else the reason
      (the very text `tarvo.solve` raises).
    - ``status``: the solver status of the final solve ("Solved", "AlmostSolved", ...), or
      what stopped the landing ("Infeasible", "InvalidInput", ...).
    - ``time_of_flight`` (s), ``objective`` (final log-mass), ``final_mass`` and
      ``fuel_used`` (kg); NaN when not ok.
    - per node, as on `PyTrajectory`: ``positions`` (m), ``velocities`` (m/s),
      ``u_values`` (thrust acceleration, m/s²), ``s_values`` (its magnitude bound),
      ``thrusts`` (N), ``normalized_thrusts``, ``z_values`` (log-mass), ``time_points``
      (s); and ``masses`` (kg). Read-only arrays, empty when not ok.
    - ``trials``: each fixed-horizon solve of the search in order, as `Trial`; one entry
      for a fixed time of flight.
    - ``iterations``: interior-point iterations over all solves; ``solve_seconds``: wall
      time of the whole landing.
    - ``miss_distance`` (m): how far from the target it lands; 0 when it reaches it.
    """

    __slots__ = ("_config", "_values")

    def __init__(self, config, **values: Any) -> None:
        missing = [name for name in (*_SCALARS, *_NODE_ARRAYS) if name not in values]
        unknown = sorted(set(values) - set(_SCALARS) - set(_NODE_ARRAYS))
        if missing or unknown:
            raise TypeError(f"Landing: missing {missing}, unknown {unknown}")
        fields = dict(values)
        for name, per_node in _NODE_ARRAYS.items():
            fields[name] = _frozen_array(values[name], per_node)
        fields["trials"] = tuple(Trial(*trial) for trial in values["trials"])
        object.__setattr__(self, "_config", _copy_config(config))
        object.__setattr__(self, "_values", fields)

    @classmethod
    def failed(cls, config, status: str, message: str, **values: Any) -> "Landing":
        """A landing without a trajectory: empty arrays and NaN numbers."""
        fields: dict[str, Any] = dict(
            ok=False, status=status, message=message, time_of_flight=math.nan,
            objective=math.nan, final_mass=math.nan, trials=(), iterations=0,
            solve_seconds=0.0, miss_distance=math.nan,
        )
        fields.update({name: () for name in _NODE_ARRAYS})
        fields.update(values)
        return cls(config, **fields)

    def __getattr__(self, name: str) -> Any:
        values = object.__getattribute__(self, "_values")
        try:
            return values[name]
        except KeyError:
            raise AttributeError(f"'Landing' object has no attribute '{name}'") from None

    def __setattr__(self, name: str, value: Any) -> None:
        raise AttributeError("Landing is immutable")

    def __delattr__(self, name: str) -> None:
        raise AttributeError("Landing is immutable")

    def __dir__(self):
        return sorted({*super().__dir__(), *self._values, "masses", "fuel_used"})

    @property
    def config(self):
        """A copy of the planned configuration."""
        return _copy_config(self._config)

    @property
    def masses(self):
        """Mass at every node, kg."""
        import numpy

        masses = numpy.exp(self._values["z_values"])
        masses.flags.writeable = False
        return masses

    @property
    def fuel_used(self) -> float:
        """Wet mass minus final mass, kg; NaN when not ok."""
        return self._config.spacecraft.wet_mass - self._values["final_mass"]

    def plot(self, **options):
        """A matplotlib Figure of the landing; see `tarvo._plots.plot_landing`."""
        from ._plots import plot_landing

        return plot_landing(self, **options)

    def to_frame(self):
        """A pandas DataFrame, one row per node; see `tarvo._tables.landing_frame`."""
        from ._tables import landing_frame

        return landing_frame(self)

    def save(self, path):
        """Write a .csv, .json or .parquet file by the suffix; see `tarvo._tables.save_landing`."""
        from ._tables import save_landing

        return save_landing(self, path)

    def verify(self):
        """Check the landing against the physics it stands for; see `tarvo._verify`."""
        from ._verify import verify_landing

        return verify_landing(self)

    def __reduce__(self):
        return (_rebuild, (self._config, self._values))

    def __repr__(self) -> str:
        if not self.ok:
            return f"Landing(ok=False, status={self.status!r}, message={self.message!r})"
        return (
            f"Landing(ok=True, status={self.status!r}, "
            f"time_of_flight={self.time_of_flight:.3f}, final_mass={self.final_mass:.3f}, "
            f"fuel_used={self.fuel_used:.3f}, nodes={len(self.time_points)}, "
            f"trials={len(self.trials)})"
        )


def _copy_config(config):
    import copy

    return copy.copy(config)


def _rebuild(config, values):
    return Landing(config, **values)
