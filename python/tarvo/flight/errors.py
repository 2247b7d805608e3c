"""Execution and knowledge errors of a flight: their one-sigmas and the values drawn.

Order of draws (what makes a flight reproducible): a flight with seed ``s`` draws from
independent streams of ``numpy.random.SeedSequence(s)``, told apart by their spawn keys:

- key ``(0,)``, once per flight, in this order: the thrust bias, the pointing misalignment
  angle, its azimuth (uniform), the three components of the disturbing acceleration, the
  mass-flow bias;
- key ``(1, k)``, at re-plan ``k`` (1, 2, ...): the three position then the three velocity
  knowledge errors.

Every normal deviate is a standard normal scaled by its one-sigma, so changing one sigma
leaves every other draw of the same seed as it was, and re-plan ``k`` draws the same errors
whatever happened before it.
"""

from __future__ import annotations

import math
import numbers
from dataclasses import dataclass, fields
from typing import NamedTuple

__all__ = ["FlightErrors", "VehicleErrors", "KnowledgeErrors", "draw_vehicle_errors",
           "draw_knowledge_errors"]

VEHICLE_STREAM, KNOWLEDGE_STREAM = 0, 1

# One-sigmas beyond which a relative error or an angle stops meaning anything.
_UPPER_BOUNDS = {"thrust_magnitude": 1.0, "mass_flow": 1.0, "thrust_pointing_deg": 180.0}


@dataclass(frozen=True)
class FlightErrors:
    """One-sigma errors of a flight (see `tarvo.fly`); every value finite and not negative.

    Drawn once per flight:

    - ``thrust_magnitude``: relative bias of the delivered thrust (0.01 is 1 %), at most 1;
    - ``thrust_pointing_deg``: misalignment of the thrust, in degrees, about a horizontal axis
      of random azimuth (a vertical thrust tilts by the angle drawn), at most 180;
    - ``acceleration``: an unmodelled constant acceleration, m/s² per axis (wind, an error in
      gravity);
    - ``mass_flow``: relative bias of the fuel consumption, at most 1.

    Drawn again at every re-plan, per axis: ``position_knowledge`` (m) and
    ``velocity_knowledge`` (m/s), the navigation errors of the state the guidance plans from.
    """

    thrust_magnitude: float = 0.0
    thrust_pointing_deg: float = 0.0
    acceleration: float = 0.0
    position_knowledge: float = 0.0
    velocity_knowledge: float = 0.0
    mass_flow: float = 0.0

    def __post_init__(self) -> None:
        for field in fields(self):
            value = getattr(self, field.name)
            if isinstance(value, bool) or not isinstance(value, numbers.Real):
                raise TypeError(f"FlightErrors.{field.name} must be a number, "
                                f"not {type(value).__name__}")
            sigma = float(value)
            bound = _UPPER_BOUNDS.get(field.name, math.inf)
            if not (0.0 <= sigma <= bound) or math.isinf(sigma):
                limit = f"from 0 to {bound:g}" if math.isfinite(bound) else "finite and >= 0"
                raise ValueError(f"FlightErrors.{field.name} must be {limit}, got {sigma}")
            object.__setattr__(self, field.name, sigma)

    def to_dict(self) -> dict[str, float]:
        return {field.name: getattr(self, field.name) for field in fields(self)}


class VehicleErrors(NamedTuple):
    """The errors drawn once for a flight.

    ``thrust_bias`` and ``mass_flow_bias`` are relative (the engine delivers
    ``1 + thrust_bias`` times the thrust, burning ``1 + mass_flow_bias`` times the fuel per
    newton-second); ``pointing_deg`` the misalignment angle about the horizontal axis at
    ``pointing_azimuth_deg`` from x; ``acceleration`` the constant disturbance (m/s², x y z).
    """

    thrust_bias: float = 0.0
    pointing_deg: float = 0.0
    pointing_azimuth_deg: float = 0.0
    acceleration: tuple[float, float, float] = (0.0, 0.0, 0.0)
    mass_flow_bias: float = 0.0


class KnowledgeErrors(NamedTuple):
    """The navigation errors of one re-plan: believed minus true position (m) and velocity
    (m/s)."""

    position: tuple[float, float, float] = (0.0, 0.0, 0.0)
    velocity: tuple[float, float, float] = (0.0, 0.0, 0.0)


def _generator(seed: int, key: tuple[int, ...]):
    import numpy

    return numpy.random.default_rng(numpy.random.SeedSequence(seed, spawn_key=key))


def _triple(values) -> tuple[float, float, float]:
    return tuple(float(value) + 0.0 for value in values)  # type: ignore[return-value]  # no -0.0


def draw_vehicle_errors(errors: FlightErrors, seed: int) -> VehicleErrors:
    generator = _generator(seed, (VEHICLE_STREAM,))
    thrust, angle = generator.standard_normal(2)
    azimuth = generator.uniform(0.0, 360.0)
    acceleration = generator.standard_normal(3)
    mass_flow = generator.standard_normal()
    return VehicleErrors(
        thrust_bias=float(thrust) * errors.thrust_magnitude,
        pointing_deg=float(angle) * errors.thrust_pointing_deg,
        pointing_azimuth_deg=float(azimuth),
        acceleration=_triple(acceleration * errors.acceleration),
        mass_flow_bias=float(mass_flow) * errors.mass_flow,
    )


def draw_knowledge_errors(errors: FlightErrors, seed: int, replan: int) -> KnowledgeErrors:
    deviates = _generator(seed, (KNOWLEDGE_STREAM, replan)).standard_normal(6)
    return KnowledgeErrors(_triple(deviates[:3] * errors.position_knowledge),
                           _triple(deviates[3:] * errors.velocity_knowledge))
