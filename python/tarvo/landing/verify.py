"""Check a planned landing against the physics its cone program stands for.

The program discretises r' = v, v' = u + g, z' = -alpha*sigma on t_k = k*dt (dt = tof/N,
last node at tof - dt, where the target state is imposed), with u and sigma linear between
nodes, and bounds the thrust through sigma with profiles expanded about a reference mass.
The vehicle, however, burns fuel at alpha*|T| = alpha*|u|*m and delivers the thrust
|u(t)|*m(t), also between the nodes. `verify_landing` flies the commanded u(t) from the
initial state and measures both against the limits; see its docstring for the checks and
their tolerances.
"""

from __future__ import annotations

import math

import numpy as np

from .verification import Check, Verification
from .._text import fixed

__all__ = ["verify_landing"]

SUBSAMPLES = 16  # samples per interval between nodes, besides the least-|u| point
RELATIVE_TOLERANCE = 1e-6  # dynamics, touchdown, thrust, speed, glide slope, dry mass
SOLVER_GAP_TOLERANCE = 1e-8  # the conic solver's relative duality-gap tolerance
POINTING_COSINE_TOLERANCE = 1e-6  # on the cosine of the thrust's tilt
_DEG = 0.017453292519943295  # radians per degree, as the program converts angles

# Three-point Gauss-Legendre rule on [0, 1] for the burn between two samples: below 1e-9
# of the mass per interval on ordinary flights, 1e-6 next to a kink of |u(t)|.
_GAUSS_X, _GAUSS_W = np.polynomial.legendre.leggauss(3)
_GAUSS_X = (_GAUSS_X + 1.0) / 2.0
_GAUSS_W = _GAUSS_W / 2.0


def verify_landing(landing) -> Verification:
    """Check a landing against its physics; ``ok`` when every check holds.

    The commanded thrust acceleration is held as the program holds it (linear between
    nodes) and flown from the configured initial state; the mass follows the real mass
    flow dm/dt = -fuel_consumption*|T|, that is dz/dt = -alpha*|u(t)| (the program books
    alpha*sigma). Path quantities are sampled at every node and at ``SUBSAMPLES`` points
    per interval plus the point of least |u| on each interval, so a dip between nodes is
    reported as such. Checks, in order:

    - dynamics: position / velocity: the worst distance between a node and the flown
      trajectory. Tolerance 1e-6 of the flight's length scale (the largest position
      magnitude, or speed times time of flight) and of its speed scale (the largest speed).
      The solver holds its equality rows to about 1e-8 relative.
    - touchdown position / velocity: the flown state at the last node (t = tof - dt, where
      the program imposes the target) against the target; same tolerances.
    - minimum / maximum thrust: |u(t)|*m(t) against min_thrust_pct and max_thrust_pct of
      real_max_thrust, between nodes too; tolerance 1e-6 of the bound.
    - speed limit: |v(t)| against max_velocity; tolerance 1e-6 of the limit.
    - glide slope: the depth below the program's cone |sin(angle)|*|r| <= r_z (height >= 0
      when the sine is 0); tolerance 1e-6 of the length scale.
    - relaxation gap: sigma_k - |u_k| at every node, how far the convex relaxation is from
      lossless. A gap books fuel alpha*dt*gap for thrust the engine does not deliver; the
      tolerance is the gap whose booked fuel equals the solver's whole duality-gap
      tolerance, 1e-8*max(1, |z_final|)/(alpha*dt). An interior-point solve leaves each
      thrust cone a slack of about its share of the duality gap over its dual, and that dual
      is about alpha*dt, so a converged solve stays inside it (a bare 1e-6 of sigma would
      fail ordinary solves: they leave 1e-7 to 1e-5 of sigma). A negative gap (|u| above
      sigma) fails the same way. Its effect on thrust and mass is in the checks that use
      |u| and the real mass flow.
    - dry mass: the lowest mass (nodes and flown mass) against wet_mass - fuel; tolerance
      1e-6 of the dry mass.
    - thrust pointing, only when 0 <= max_angle_deg < 90 with gravity: the tilt of u(t)
      from the direction opposite to gravity; tolerance 1e-6 on the cosine.

    Tolerances are fixed: a value beyond one is a real departure, reported with where it
    lies. Raises ValueError for a landing without a trajectory (``ok`` false), since there
    is nothing to verify, or when its arrays do not fit together.
    """
    if not landing.ok:
        raise ValueError(f"cannot verify a failed landing: {landing.message}")
    with np.errstate(invalid="ignore", divide="ignore", over="ignore"):
        flight = _Flight(landing)
        path = _FlownPath(flight)
        checks = [
            *_dynamics_checks(flight, path),
            *_touchdown_checks(flight, path),
            *_thrust_checks(flight, path),
            _speed_check(flight, path),
            _glide_slope_check(flight, path),
            _relaxation_gap_check(flight),
            _dry_mass_check(flight, path),
        ]
        pointing = _pointing_check(flight, path)
    if pointing is not None:
        checks.append(pointing)
    return Verification(tuple(checks))


class _Flight:
    """The landing's node arrays and the configuration constants the checks need."""

    def __init__(self, landing) -> None:
        config = landing.config
        craft, environment = config.spacecraft, config.environment
        self.positions = np.asarray(landing.positions, dtype=float)
        self.velocities = np.asarray(landing.velocities, dtype=float)
        self.u = np.asarray(landing.u_values, dtype=float)
        self.sigma = np.asarray(landing.s_values, dtype=float)
        self.z = np.asarray(landing.z_values, dtype=float)
        self.n = len(self.z)
        shapes_fit = (
            self.n >= 1 and self.positions.shape == self.velocities.shape == self.u.shape
            == (self.n, 3) and self.sigma.shape == self.z.shape == (self.n,)
        )
        if not shapes_fit:
            raise ValueError("cannot verify a landing whose node arrays do not fit together")
        self.time_of_flight = float(landing.time_of_flight)
        self.dt = self.time_of_flight / self.n
        self.gravity = np.array(environment.gravity, dtype=float)
        self.alpha = craft.fuel_consumption
        self.wet_mass = craft.wet_mass
        self.dry_mass = craft.wet_mass - craft.fuel
        self.min_thrust = craft.real_max_thrust * craft.min_thrust_pct
        self.max_thrust = craft.real_max_thrust * craft.max_thrust_pct
        self.max_speed = craft.max_velocity
        self.initial_position = np.array(craft.initial_position, dtype=float)
        self.initial_velocity = np.array(craft.initial_velocity, dtype=float)
        self.target_position = np.array(craft.target_position, dtype=float)
        self.target_velocity = np.array(craft.target_velocity, dtype=float)
        self.glide_slope_angle_deg = environment.glide_slope_angle_deg
        self.max_angle_deg = environment.max_angle_deg
        self.speed_scale, self.length_scale = _scales(self)

    def node_time(self, k) -> float:
        return k * self.dt


class _FlownPath:
    """The commanded u(t) flown from the initial state, at the nodes and between them.

    Samples run in time order: for each interval k, the fractions 0, 1/S, ..., (S-1)/S and
    the point of least |u|, sorted; then the last node.
    """

    def __init__(self, flight: _Flight) -> None:
        self.flight = flight
        self.node_positions, self.node_velocities = _fly_nodes(flight)
        fractions, burn = _sample_fractions_and_burn(flight)
        # The real log-mass: z(t) = ln(wet_mass) - alpha * integral of |u|.
        burn_to_node = np.concatenate(([0.0], np.cumsum(burn[:, -1])))
        self.node_log_mass = np.log(flight.wet_mass) - flight.alpha * burn_to_node
        fractions, burn = fractions[:, :-1], burn[:, :-1]
        self.interval = np.append(np.repeat(np.arange(flight.n - 1), fractions.shape[1]),
                                  flight.n - 1)
        self.fraction = np.append(fractions.ravel(), 0.0)
        log_mass = self.node_log_mass[:-1, None] - flight.alpha * burn
        self.log_mass = np.append(log_mass.ravel(), self.node_log_mass[-1])
        self.times = (self.interval + self.fraction) * flight.dt
        self._states_between_nodes(fractions)
        self.thrust = _norms(self.u) * np.exp(self.log_mass)

    def _states_between_nodes(self, s) -> None:
        """r, v and u at the samples: the linear hold integrated from each node.

        Each is a polynomial in the fraction s of the interval, so all three come from one
        product of the powers of s with per-interval coefficients.
        """
        flight, dt = self.flight, self.flight.dt
        u_start, u_change = flight.u[:-1], flight.u[1:] - flight.u[:-1]
        r, v, push = self.node_positions[:-1], self.node_velocities[:-1], flight.gravity + u_start
        zero = np.zeros_like(r)
        coefficients = np.stack((            # rows: s^0 .. s^3; columns: r, v, u
            np.hstack((r, v, u_start)),
            np.hstack((v * dt, push * dt, u_change)),
            np.hstack((push * (dt * dt / 2.0), u_change * (dt / 2.0), zero)),
            np.hstack((u_change * (dt * dt / 6.0), zero, zero)),
        ), axis=1)
        powers = np.stack((np.ones_like(s), s, s * s, s * s * s), axis=2)
        states = (powers @ coefficients).reshape(-1, 9)
        last = np.concatenate((self.node_positions[-1], self.node_velocities[-1], flight.u[-1]))
        states = np.vstack((states, last))
        self.positions, self.velocities, self.u = states[:, :3], states[:, 3:6], states[:, 6:]

    def where(self, index: int) -> str:
        """Where sample ``index`` lies, in words."""
        k, t = int(self.interval[index]), float(self.times[index])
        if self.fraction[index] == 0.0:
            return f"at node {k} (t = {t:.6g} s)"
        return f"between nodes {k} and {k + 1} (t = {t:.6g} s)"


def _fly_nodes(flight: _Flight):
    """Node states from the initial state by the exact integral of the linear hold."""
    dt, g, u = flight.dt, flight.gravity, flight.u
    velocity_steps = (u[:-1] + u[1:]) * (dt / 2.0) + g * dt
    velocities = np.vstack((flight.initial_velocity,
                            flight.initial_velocity + np.cumsum(velocity_steps, axis=0)))
    position_steps = (velocities[:-1] * dt + u[:-1] * (dt * dt / 3.0)
                      + u[1:] * (dt * dt / 6.0) + g * (dt * dt / 2.0))
    positions = np.vstack((flight.initial_position,
                           flight.initial_position + np.cumsum(position_steps, axis=0)))
    return positions, velocities


def _sample_fractions_and_burn(flight: _Flight):
    """Sorted sample fractions per interval (with 1 last) and the integral of |u| dt from
    the interval's start to each of them.

    The point of least |u| is a sample and a break of the quadrature, so the one kink
    |u(t)| can have on an interval (where u passes near zero) falls between pieces.
    """
    u_start, u_change = flight.u[:-1], flight.u[1:] - flight.u[:-1]
    # |u_start + s*u_change|^2 = a + s*(2b + s*c) on each interval.
    a = np.einsum("ij,ij->i", u_start, u_start)[:, None, None]
    b = np.einsum("ij,ij->i", u_start, u_change)
    c = np.einsum("ij,ij->i", u_change, u_change)
    least = np.divide(-b, c, out=np.zeros(len(b)), where=c > 0.0)
    fractions = np.empty((len(b), SUBSAMPLES + 2))
    fractions[:, :-1] = np.arange(SUBSAMPLES + 1) / SUBSAMPLES
    fractions[:, -1] = np.nan_to_num(np.clip(least, 0.0, 1.0))
    fractions.sort(axis=1)
    widths = np.diff(fractions, axis=1)
    s = fractions[:, :-1, None] + widths[..., None] * _GAUSS_X
    squared = a + s * (2.0 * b[:, None, None] + s * c[:, None, None])
    pieces = (np.sqrt(np.maximum(squared, 0.0)) @ _GAUSS_W) * widths * flight.dt
    burn = np.zeros_like(fractions)
    np.cumsum(pieces, axis=1, out=burn[:, 1:])
    return fractions, burn


def _norms(vectors):
    """Euclidean norm of each row."""
    return np.sqrt(np.einsum("ij,ij->i", vectors, vectors))


def _scales(flight: _Flight):
    """The flight's speed and length scales for the consistency tolerances."""
    speed = max(float(np.max(_norms(flight.velocities))),
                math.hypot(*flight.initial_velocity), math.hypot(*flight.target_velocity),
                (math.hypot(*flight.gravity) + float(np.max(flight.sigma))) * flight.dt)
    length = max(float(np.max(_norms(flight.positions))),
                 math.hypot(*flight.initial_position), math.hypot(*flight.target_position),
                 speed * flight.time_of_flight)
    return speed, length


def _at_most(name, worst, unit, limit, tolerance, detail) -> Check:
    return Check(name, float(worst) + 0.0, unit, float(tolerance),  # + 0.0: no "-0"
                 bool(worst <= limit + tolerance), detail)


def _dynamics_checks(flight: _Flight, path: _FlownPath):
    speed, length = flight.speed_scale, flight.length_scale
    for name, nodes, flown, unit, scale in (
        ("dynamics: position", flight.positions, path.node_positions, "m", length),
        ("dynamics: velocity", flight.velocities, path.node_velocities, "m/s", speed),
    ):
        deviation = _norms(nodes - flown)
        k = int(np.argmax(deviation))
        yield _at_most(name, deviation[k], unit, 0.0, RELATIVE_TOLERANCE * scale,
                       f"node against the flown trajectory, worst at node {k} "
                       f"(t = {flight.node_time(k):.6g} s)")


def _touchdown_checks(flight: _Flight, path: _FlownPath):
    speed, length = flight.speed_scale, flight.length_scale
    t_last = flight.node_time(flight.n - 1)
    for name, flown, nodes, target, unit, scale in (
        ("touchdown position", path.node_positions, flight.positions,
         flight.target_position, "m", length),
        ("touchdown velocity", path.node_velocities, flight.velocities,
         flight.target_velocity, "m/s", speed),
    ):
        miss = math.hypot(*(flown[-1] - target))
        node_miss = math.hypot(*(nodes[-1] - target))
        yield _at_most(name, miss, unit, 0.0, RELATIVE_TOLERANCE * scale,
                       f"flown state at the last node (t = tof - dt = {t_last:.6g} s) "
                       f"against the target; the node itself misses by {node_miss:.3g} {unit}")


def _thrust_checks(flight: _Flight, path: _FlownPath):
    thrust, at_node = path.thrust, path.fraction == 0.0
    low, high = int(np.argmin(thrust)), int(np.argmax(thrust))
    node_low = float(np.min(thrust[at_node]))
    node_high = float(np.max(thrust[at_node]))
    tolerance_low = RELATIVE_TOLERANCE * abs(flight.min_thrust)
    yield Check(
        "minimum thrust", float(thrust[low]), "N", tolerance_low,
        bool(thrust[low] >= flight.min_thrust - tolerance_low),
        f"limit {flight.min_thrust:.6g} N; lowest |u|*m {path.where(low)}; "
        f"lowest at a node {node_low:.6g} N",
    )
    yield _at_most(
        "maximum thrust", thrust[high], "N", flight.max_thrust,
        RELATIVE_TOLERANCE * abs(flight.max_thrust),
        f"limit {flight.max_thrust:.6g} N; highest |u|*m {path.where(high)}; "
        f"highest at a node {node_high:.6g} N",
    )


def _speed_check(flight: _Flight, path: _FlownPath) -> Check:
    flown = _norms(path.velocities)
    nodes = _norms(flight.velocities)
    i, k = int(np.argmax(flown)), int(np.argmax(nodes))
    worst = np.maximum(flown[i], nodes[k])  # NaN propagates
    return _at_most("speed limit", worst, "m/s", flight.max_speed,
                    RELATIVE_TOLERANCE * abs(flight.max_speed),
                    f"limit {flight.max_speed:.6g} m/s; flown peak {flown[i]:.6g} m/s "
                    f"{path.where(i)}; node peak {nodes[k]:.6g} m/s at node {k}")


def _glide_slope_check(flight: _Flight, path: _FlownPath) -> Check:
    sine = math.sin(flight.glide_slope_angle_deg * _DEG)

    def depth(positions):
        if sine == 0.0:
            return -positions[:, 2]
        return abs(sine) * _norms(positions) - positions[:, 2]

    flown, nodes = depth(path.positions), depth(flight.positions)
    i, k = int(np.argmax(flown)), int(np.argmax(nodes))
    worst = np.maximum(flown[i], nodes[k])  # NaN propagates
    cone = "height >= 0" if sine == 0.0 else f"height >= {abs(sine):.6g}*|r|"
    return _at_most("glide slope", worst, "m", 0.0, RELATIVE_TOLERANCE * flight.length_scale,
                    f"depth below the cone ({cone}); flown {flown[i]:.3g} m "
                    f"{path.where(i)}, node {nodes[k]:.3g} m at node {k}")


def _relaxation_gap_check(flight: _Flight) -> Check:
    gap = flight.sigma - _norms(flight.u)
    k = int(np.argmax(np.abs(gap)))
    booked_per_gap = flight.alpha * flight.dt  # log-mass booked per m/s^2 of gap at a node
    tolerance = (SOLVER_GAP_TOLERANCE * max(1.0, abs(float(flight.z[-1]))) / booked_per_gap
                 if booked_per_gap > 0.0 else math.inf)
    weights = np.full(flight.n, flight.dt)
    weights[[0, -1]] = flight.dt / 2.0
    unburnt = flight.alpha * float(weights @ gap) if flight.n > 1 else 0.0
    return Check(
        "relaxation gap", float(gap[k]), "m/s^2", float(tolerance),
        bool(abs(gap[k]) <= tolerance),
        f"sigma - |u| at node {k} (t = {flight.node_time(k):.6g} s), "
        f"{gap[k] / flight.sigma[k]:.3g} of sigma there; fuel booked but not burnt "
        f"{unburnt:.3g} in log-mass",
    )


def _dry_mass_check(flight: _Flight, path: _FlownPath) -> Check:
    booked = float(np.exp(np.min(flight.z)))
    flown = float(np.exp(np.min(path.log_mass)))
    tolerance = RELATIVE_TOLERANCE * abs(flight.dry_mass)
    worst = float(np.minimum(booked, flown))  # NaN propagates
    return Check(
        "dry mass", worst, "kg", tolerance, bool(worst >= flight.dry_mass - tolerance),
        f"limit {flight.dry_mass:.6g} kg; final mass {fixed(np.exp(flight.z[-1]), 6)} kg as "
        f"the program books it, {fixed(np.exp(path.node_log_mass[-1]), 6)} kg by the real "
        "mass flow",
    )


def _pointing_check(flight: _Flight, path: _FlownPath):
    angle = flight.max_angle_deg
    up = -flight.gravity
    if not (0.0 <= angle < 90.0) or not np.any(up):
        return None
    up = up / np.linalg.norm(up)
    size = _norms(path.u)  # the samples hold every node
    cosine = np.divide(path.u @ up, size, out=np.ones(len(size)), where=size > 0.0)
    i = int(np.argmin(cosine))
    worst = math.degrees(math.acos(min(max(float(cosine[i]), -1.0), 1.0)))
    limit_cosine = math.cos(angle * _DEG)
    loosest = math.degrees(math.acos(max(limit_cosine - POINTING_COSINE_TOLERANCE, -1.0)))
    return Check(
        "thrust pointing", worst, "deg", loosest - angle,
        bool(cosine[i] >= limit_cosine - POINTING_COSINE_TOLERANCE),
        f"limit {angle:.6g} deg from the direction opposite to gravity; widest {path.where(i)}",
    )
