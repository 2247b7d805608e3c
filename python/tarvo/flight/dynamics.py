"""The flown vehicle: its engine with the errors of one flight, and the integration of its state.

State: position r (m), velocity v (m/s), true mass m and the mass the guidance believes m_b
(kg), as eight floats. The guidance commands the thrust T_c = a_c * m_b, with a_c its commanded
acceleration (`Segment.command`: the plan's thrust acceleration, linear between its nodes,
and in closed loop a feedback that holds the vehicle on the plan's path). The engine
delivers, while it has fuel,

    |T| = clip((1 + thrust_bias) * |T_c|, min_thrust_pct * real_max_thrust, real_max_thrust)

along T_c turned by the fixed pointing misalignment; the planner's ``max_thrust_pct`` is
guidance margin, not the engine's limit. A zero command delivers nothing. Then

    r' = v,   v' = T/m + g + a_d,   m' = -(1 + mass_flow_bias) * alpha * |T|,
    m_b' = -alpha * clip(|T_c|)       (what the guidance books: its engine model, no errors)

with a_d the constant disturbance and alpha = fuel_consumption. When the true mass reaches
the dry mass the engine stops. Without errors m_b = m in every stage, so v' = a_c exactly
while the engine is not clipped.

Integration: classical RK4 at a fixed step of at most ``MAX_STEP`` seconds, the steps
ending on every plan node (where u(t) has a kink), sample and re-plan time, so every step is
smooth in time. Two events end a step early, each located within the step and reached by
one RK4 step from its start: the fuel running out (the mass is all but linear over a step)
and the vehicle coming down through the target's altitude (a cubic Hermite fit of the
altitude).
"""

from __future__ import annotations

import math
from collections.abc import Sequence

from .errors import VehicleErrors

__all__ = ["Vehicle", "Segment", "MAX_STEP", "GROUND", "NON_FINITE"]

MAX_STEP = 0.02  # s; flies a plan within a micrometre of a ten times finer step
GROUND, NON_FINITE = "ground", "non-finite"
_TIME_TOLERANCE = 1e-9  # s: times closer than this are one instant


class Segment:
    """The guidance's command on one interval between plan nodes.

    The plan's thrust acceleration u(t) = u0 + (t - t0) * slope. With a ``tracker`` the
    guidance also holds the vehicle on the plan's own path: the plan's state, flown from its
    node (r0, v0) under ``gravity`` with u(t), against the believed state (the true state plus
    the navigation ``error``, six values), fed back with the tracker's gains.
    """

    __slots__ = ("t0", "u0", "slope", "r0", "v0", "gravity", "tracker", "error")

    def __init__(self, t0, u0, slope, r0=None, v0=None, gravity=None, tracker=None,
                 error=None) -> None:
        self.t0, self.u0, self.slope = t0, u0, slope
        self.r0, self.v0, self.gravity = r0, v0, gravity
        self.tracker, self.error = tracker, error

    def at(self, t: float) -> tuple[float, float, float]:
        """The plan's thrust acceleration u(t)."""
        dt = t - self.t0
        (a, b, c), (p, q, r) = self.u0, self.slope
        return a + dt * p, b + dt * q, c + dt * r

    def command(self, t: float, state) -> tuple[float, float, float]:
        """The commanded thrust acceleration at ``t`` for the true ``state``."""
        if self.tracker is None:
            return self.at(t)
        kp, kd = self.tracker
        dt = t - self.t0
        command = []
        for i in range(3):
            push = self.gravity[i] + self.u0[i]
            jerk = self.slope[i]
            r = self.r0[i] + dt * (self.v0[i] + dt * (push / 2 + dt * jerk / 6))
            v = self.v0[i] + dt * (push + dt * jerk / 2)
            command.append(self.u0[i] + dt * jerk
                           + kp * (r - state[i] - self.error[i])
                           + kd * (v - state[3 + i] - self.error[3 + i]))
        return command[0], command[1], command[2]


def _rotation(angle_deg: float, azimuth_deg: float):
    """The rotation by angle about the horizontal axis at azimuth (Rodrigues), or None."""
    if angle_deg == 0.0:
        return None
    theta, phi = math.radians(angle_deg), math.radians(azimuth_deg)
    x, y = math.cos(phi), math.sin(phi)
    c, s = math.cos(theta), math.sin(theta)
    k = 1.0 - c
    return ((c + k * x * x, k * x * y, s * y),
            (k * x * y, c + k * y * y, -s * x),
            (-s * y, s * x, c))


class Vehicle:
    """The engine, the mass flow and the forces of one flight (see the module text)."""

    def __init__(self, config, errors: VehicleErrors) -> None:
        craft, environment = config.spacecraft, config.environment
        gravity, disturbance = environment.gravity, errors.acceleration
        self.external = tuple(g + a for g, a in zip(gravity, disturbance))
        self.min_thrust = craft.real_max_thrust * craft.min_thrust_pct
        self.max_thrust = craft.real_max_thrust
        self.alpha = craft.fuel_consumption
        self.true_alpha = self.alpha * max(0.0, 1.0 + errors.mass_flow_bias)
        self.gain = max(0.0, 1.0 + errors.thrust_bias)
        self.rotation = _rotation(errors.pointing_deg, errors.pointing_azimuth_deg)
        self.dry_mass = craft.wet_mass - craft.fuel
        self.target_altitude = craft.target_position[2]

    def _engine(self, magnitude: float) -> float:
        return min(max(magnitude, self.min_thrust), self.max_thrust)

    def thrusts(self, u, believed: float, mass: float):
        """Commanded and delivered thrust vectors (N) and the delivered magnitude."""
        command = (u[0] * believed, u[1] * believed, u[2] * believed)
        size = math.hypot(*command)
        if size == 0.0 or not mass > self.dry_mass:
            return command, (0.0, 0.0, 0.0), 0.0
        delivered = self._engine(size * self.gain)
        scale = delivered / size
        actual = (command[0] * scale, command[1] * scale, command[2] * scale)
        if self.rotation is not None:
            actual = tuple(row[0] * actual[0] + row[1] * actual[1] + row[2] * actual[2]
                           for row in self.rotation)
        return command, actual, delivered

    def rates(self, segment: Segment, t: float, state) -> list[float]:
        u = segment.command(t, state)
        mass, believed = state[6], state[7]
        command, actual, delivered = self.thrusts(u, believed, mass)
        booked = 0.0
        if believed > self.dry_mass:
            booked = self.alpha * self._engine(math.hypot(*command))
        gx, gy, gz = self.external
        if delivered:  # an engine that delivers nothing needs no mass to divide by
            gx, gy, gz = actual[0] / mass + gx, actual[1] / mass + gy, actual[2] / mass + gz
        return [state[3], state[4], state[5], gx, gy, gz, -self.true_alpha * delivered, -booked]

    def _rk4(self, segment: Segment, t: float, state, h: float) -> list[float]:
        k1 = self.rates(segment, t, state)
        k2 = self.rates(segment, t + h / 2, [s + h / 2 * k for s, k in zip(state, k1)])
        k3 = self.rates(segment, t + h / 2, [s + h / 2 * k for s, k in zip(state, k2)])
        k4 = self.rates(segment, t + h, [s + h * k for s, k in zip(state, k3)])
        return [s + h / 6 * (a + 2 * b + 2 * c + d)
                for s, a, b, c, d in zip(state, k1, k2, k3, k4)]

    def advance(self, segment: Segment, t: float, state, until: float):
        """Integrate from ``t`` to ``until`` under one segment of the command.

        Returns (time, state, event): event None at ``until``, GROUND where the vehicle
        came down through the target's altitude, NON_FINITE where the state stopped being a
        number. The state's mass is set to exactly the dry mass when the fuel runs out.
        """
        while until - t > _TIME_TOLERANCE:
            steps = math.ceil((until - t) / MAX_STEP)
            h = (until - t) / steps
            after = self._rk4(segment, t, state, h)
            if after[6] < self.dry_mass < state[6]:
                h *= (state[6] - self.dry_mass) / (state[6] - after[6])
                after = self._rk4(segment, t, state, h)
                after[6] = self.dry_mass
            if not all(math.isfinite(value) for value in after):
                return t, state, NON_FINITE
            if state[2] > self.target_altitude >= after[2]:
                h *= self._crossing(state, after, h)
                landed = self._rk4(segment, t, state, h)
                landed[6] = max(landed[6], self.dry_mass)
                return t + h, landed, GROUND
            t = until if steps == 1 and h == (until - t) else t + h
            state = after
        return until, state, None

    def _crossing(self, before, after, h: float) -> float:
        """The fraction of a step where the altitude's cubic Hermite fit meets the target's."""
        z0, z1 = before[2] - self.target_altitude, after[2] - self.target_altitude
        d0, d1 = before[5] * h, after[5] * h

        def height(s: float) -> float:
            s2, s3 = s * s, s * s * s
            return ((2 * s3 - 3 * s2 + 1) * z0 + (s3 - 2 * s2 + s) * d0
                    + (-2 * s3 + 3 * s2) * z1 + (s3 - s2) * d1)

        low, high = 0.0, 1.0  # height(low) > 0 >= height(high)
        for _ in range(60):
            middle = (low + high) / 2
            if height(middle) > 0.0:
                low = middle
            else:
                high = middle
        return high
