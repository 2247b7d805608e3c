"""Check a planned landing against the physics its cone program stands for.

The program discretises r' = v, v' = u + g, z' = -alpha*sigma on t_k = k*dt (dt = tof/N,
last node at tof - dt, where the target state is imposed), with u and sigma linear between
nodes, and bounds the thrust through sigma with profiles expanded about a reference mass.
The vehicle, however, burns fuel at alpha*|T| = alpha*|u|*m and delivers the thrust
|u(t)|*m(t), also between the nodes. `verify_landing` flies the commanded u(t) from the
initial state and measures both against the limits at their exact extremes; see its
docstring for the checks and their tolerances.
"""

from __future__ import annotations

import functools
import math
from typing import NamedTuple

import numpy as np

from .extremes import bracketed_roots, cubic_roots, quadratic_roots, root_quadratic_integral
from .verification import Check, Verification
from .._text import fixed

__all__ = ["verify_landing"]

RELATIVE_TOLERANCE = 1e-6  # dynamics, touchdown, thrust, speed, glide slope, dry mass
SOLVER_GAP_TOLERANCE = 1e-8  # the conic solver's relative duality-gap tolerance
POINTING_COSINE_TOLERANCE = 1e-6  # on the cosine of the thrust's tilt
# The booked final mass may lie below the real one by the larger of these; never above it.
FINAL_MASS_SHORTFALL_KG = 0.05
FINAL_MASS_SHORTFALL_OF_FUEL = 0.002
GLIDE_SAMPLES = 8  # per interval: the brackets of the deepest points below the glide cone
_DEG = 0.017453292519943295  # radians per degree, as the program converts angles


def verify_landing(landing) -> Verification:
    """Check a landing against its physics; ``ok`` when every check holds.

    The commanded thrust acceleration is held as the program holds it (linear between
    nodes) and flown from the configured initial state; the mass follows the real mass
    flow dm/dt = -fuel_consumption*|T|, that is dz/dt = -alpha*|u(t)| (the program books
    alpha*sigma). Every path quantity is measured at its exact extreme on each interval
    between nodes (where its derivative vanishes), so a dip between nodes is reported as
    such. Checks, in order:

    - dynamics: position / velocity: the worst distance between a node and the flown
      trajectory. Tolerance 1e-6 of the flight's length scale (the largest position
      magnitude, or speed times time of flight) and of its speed scale (the largest speed).
      The solver holds its equality rows to about 1e-8 relative.
    - touchdown position / velocity: the flown state at the last node (t = tof - dt, where
      the program imposes the target) against the target; same tolerances. A closest
      landing (``miss_distance`` above 0) is held to the point it landed on: its last node
      brought onto the target's horizontal plane (normal to gravity).
    - target miss, only for a closest landing: the flown touchdown's distance from the
      target against the landing's ``miss_distance``; tolerance as for the position.
    - minimum / maximum thrust: |u(t)|*m(t) against min_thrust_pct and max_thrust_pct of
      real_max_thrust, at its least and greatest on every interval; tolerance 1e-6 of the
      bound.
    - speed limit: the peak of |v(t)| against max_velocity; tolerance 1e-6 of the limit.
    - glide slope: the greatest depth below the program's cone |sin(angle)|*|r| <= r_z
      (height >= 0 when the sine is 0); tolerance 1e-6 of the length scale.
    - relaxation gap: sigma_k - |u_k| at every node, how far the convex relaxation is from
      lossless. A gap books fuel alpha*dt*gap for thrust the engine does not deliver; the
      tolerance is the gap whose booked fuel equals the solver's whole duality-gap
      tolerance, 1e-8*max(1, |z_final|)/(alpha*dt). An interior-point solve leaves each
      thrust cone a slack of about its share of the duality gap over its dual, and that dual
      is about alpha*dt, so a converged solve stays inside it (a bare 1e-6 of sigma would
      fail ordinary solves: they leave 1e-7 to 1e-5 of sigma). A negative gap (|u| above
      sigma) fails the same way. Its effect on thrust and mass is in the checks that use
      |u| and the real mass flow.
    - final mass: how far the booked final mass lies below the real one. It may lie below
      by up to 0.05 kg or 0.2 % of the fuel used, whichever is larger, and above by 1e-6 of
      the dry mass at most: a landing never claims more mass than it keeps.
    - dry mass: the lowest mass (nodes and flown mass) against wet_mass - fuel; tolerance
      1e-6 of the dry mass.
    - thrust pointing, only when 0 <= max_angle_deg < 90 with gravity: the widest tilt of
      u(t) from the direction opposite to gravity; tolerance 1e-6 on the cosine.

    Tolerances are fixed: a value beyond one is a real departure, reported with where it
    lies. Raises ValueError for a landing without a trajectory, since there is nothing to
    verify, or when its arrays do not fit together.
    """
    if not len(landing.z_values):
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
            _final_mass_check(flight, path),
            _dry_mass_check(flight, path),
            _pointing_check(flight),
        ]
    return Verification(tuple(check for check in checks if check is not None))


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
        self.miss_distance = float(landing.miss_distance)
        self.glide_slope_angle_deg = environment.glide_slope_angle_deg
        self.max_angle_deg = environment.max_angle_deg
        self.speed_scale, self.length_scale = _scales(self)

    @property
    def closest(self) -> bool:
        """Whether the landing missed the target on purpose (a closest landing)."""
        return self.miss_distance > 0.0

    def landed_point(self) -> np.ndarray:
        """The target of the touchdown check: the target position, or for a closest landing
        its last node brought onto the target's horizontal plane."""
        if not self.closest or not np.any(self.gravity):
            return self.target_position
        up = -self.gravity / np.linalg.norm(self.gravity)
        offset = self.positions[-1] - self.target_position
        return self.target_position + offset - (offset @ up) * up

    def where(self, interval: int, fraction: float) -> str:
        """Where the point ``fraction`` of the way through ``interval`` lies, in words."""
        t = (interval + fraction) * self.dt
        if fraction == 0.0 or fraction == 1.0:
            return f"at node {interval + int(fraction)} (t = {t:.6g} s)"
        return f"between nodes {interval} and {interval + 1} (t = {t:.6g} s)"


class _FlownPath:
    """The commanded u(t) flown from the initial state.

    The node states come from the exact integral of the linear hold and the node masses
    from the real mass flow. On interval k, a fraction s of the way through,
    u(s) = u_k + s*du_k, so |u(s)|^2 = a + 2*b*s + c*s^2, the velocity is quadratic and the
    position cubic in s; the methods give them for fractions of shape (intervals, m).
    """

    def __init__(self, flight: _Flight) -> None:
        self.flight = flight
        self.node_positions, self.node_velocities = _fly_nodes(flight)
        self.u_start = flight.u[:-1]
        self.u_change = flight.u[1:] - flight.u[:-1]
        self.a = _dots(self.u_start, self.u_start)
        self.b = _dots(self.u_start, self.u_change)
        self.c = _dots(self.u_change, self.u_change)
        least = np.divide(-self.b, self.c, out=np.zeros(len(self.b)), where=self.c > 0.0)
        self.least = np.nan_to_num(np.clip(least, 0.0, 1.0))  # the fraction of least |u|
        burn = self.burn(np.ones((len(self.a), 1)))[:, 0]
        self.node_log_mass = (np.log(flight.wet_mass)
                              - flight.alpha * np.concatenate(([0.0], np.cumsum(burn))))

    def u_norm(self, s):
        a, b, c = self.a[:, None], self.b[:, None], self.c[:, None]
        return np.sqrt(np.maximum(a + s * (2.0 * b + s * c), 0.0))

    def burn(self, s):
        """The integral of |u| dt from the start of each interval to the fraction s."""
        a, b, c = self.a[:, None], self.b[:, None], self.c[:, None]
        return self.flight.dt * root_quadratic_integral(a, b, c, s)

    def thrust(self, s):
        """|u(s)| * m(s), with the real mass."""
        log_mass = self.node_log_mass[:-1, None] - self.flight.alpha * self.burn(s)
        return np.exp(log_mass) * self.u_norm(s)

    def velocity_terms(self):
        """v(s) = A + B*s + C*s^2 per interval: (A, B, C), each of shape (intervals, 3)."""
        dt = self.flight.dt
        return (self.node_velocities[:-1], (self.flight.gravity + self.u_start) * dt,
                self.u_change * (dt / 2.0))

    def position_terms(self):
        """r(s) = R0 + R1*s + R2*s^2 + R3*s^3 per interval: (R0, R1, R2, R3)."""
        dt = self.flight.dt
        return (self.node_positions[:-1], self.node_velocities[:-1] * dt,
                (self.flight.gravity + self.u_start) * (dt * dt / 2.0),
                self.u_change * (dt * dt / 6.0))


class _Extremes(NamedTuple):
    """Candidate points of a path quantity: its value at every node (fraction 0 of the
    interval that starts there) and at the candidates between nodes."""

    values: np.ndarray
    interval: np.ndarray
    fraction: np.ndarray

    @classmethod
    def of(cls, at_nodes, between, fractions) -> _Extremes:
        intervals = np.repeat(np.arange(len(between)), between.shape[1])
        return cls(np.concatenate((at_nodes, between.ravel())),
                   np.concatenate((np.arange(len(at_nodes)), intervals)),
                   np.concatenate((np.zeros(len(at_nodes)), fractions.ravel())))

    def worst(self, highest: bool) -> tuple[float, int, float]:
        """The highest (or lowest) value, NaN first, with its interval and fraction."""
        i = int(np.argmax(self.values) if highest else np.argmin(self.values))
        return float(self.values[i]), int(self.interval[i]), float(self.fraction[i])


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


def _dots(first, second):
    """Row-wise dot products (over the last axis)."""
    return np.einsum("...j,...j->...", first, second)


def _norms(vectors):
    """Euclidean norm of each row."""
    return np.sqrt(_dots(vectors, vectors))


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
                       f"node against the flown trajectory, worst {flight.where(k, 0.0)}")


def _touchdown_checks(flight: _Flight, path: _FlownPath):
    speed, length = flight.speed_scale, flight.length_scale
    t_last = (flight.n - 1) * flight.dt
    landed_point = flight.landed_point()
    for name, flown, nodes, target, against, unit, scale in (
        ("touchdown position", path.node_positions, flight.positions, landed_point,
         "the point it landed on" if flight.closest else "the target", "m", length),
        ("touchdown velocity", path.node_velocities, flight.velocities,
         flight.target_velocity, "the target", "m/s", speed),
    ):
        miss = math.hypot(*(flown[-1] - target))
        node_miss = math.hypot(*(nodes[-1] - target))
        yield _at_most(name, miss, unit, 0.0, RELATIVE_TOLERANCE * scale,
                       f"flown state at the last node (t = tof - dt = {t_last:.6g} s) "
                       f"against {against}; the node itself misses by {node_miss:.3g} {unit}")
    if flight.closest:
        flown_miss = math.hypot(*(path.node_positions[-1] - flight.target_position))
        yield _at_most("target miss", abs(flown_miss - flight.miss_distance), "m", 0.0,
                       RELATIVE_TOLERANCE * length,
                       f"the flown touchdown lies {flown_miss:.6g} m from the target; the "
                       f"landing reports a miss of {flight.miss_distance:.6g} m")


def _thrust_extremes(flight: _Flight, path: _FlownPath):
    """The lowest and highest real thrust on each interval, with their fractions.

    With w = |u(s)| and the real mass m(s), d(w*m)/ds = m/w * f(s), where
    f(s) = b + c*s - alpha*dt*w^3. Before the least |u| (fraction s0) f < 0, so the thrust
    falls; from s0 on, f is concave, so it changes sign at most twice: the thrust falls,
    rises, falls. Its lowest point is s0, the rise's start or the end of the interval; its
    highest the start, the rise's end or the end.
    """
    burn_rate = flight.alpha * flight.dt

    def derivatives_at(index, of_turn):
        """f and f' (of_turn), or f' and f'' (for the peak of f), at ``index``."""
        a, b, c = path.a[index], path.b[index], path.c[index]

        def derivatives(s):
            w, push = np.sqrt(np.maximum(a + s * (2.0 * b + s * c), 0.0)), b + c * s
            slope = c - 3.0 * burn_rate * w * push
            if of_turn:
                return push - burn_rate * w ** 3, slope
            return slope, -3.0 * burn_rate * (push * push / w + w * c)
        return derivatives

    turn_at = functools.partial(derivatives_at, of_turn=True)
    turn_slope_at = functools.partial(derivatives_at, of_turn=False)
    by_interval = (slice(None), None)  # the coefficients as a column: one row per interval
    start, end = path.least, np.ones_like(path.least)
    slopes = turn_slope_at(by_interval)(np.stack((start, end), axis=1))[0]
    rising_at_start, falling_at_end = slopes[:, 0] > 0.0, slopes[:, 1] < 0.0
    peak = bracketed_roots(turn_slope_at, rising_at_start & falling_at_end, start, end)
    peak = np.where(rising_at_start & ~falling_at_end, end, peak)
    at_start, at_peak, at_end = turn_at(by_interval)(np.stack((start, peak, end), axis=1))[0].T
    rises, falls = (at_start < 0.0) & (at_peak > 0.0), (at_peak > 0.0) & (at_end < 0.0)
    rise = bracketed_roots(turn_at, rises, start, peak)
    fall = np.where(falls, bracketed_roots(turn_at, falls, peak, end), end)
    lowest = np.stack((start, rise, end), axis=1)
    highest = np.stack((np.zeros_like(start), fall, end), axis=1)
    return lowest, highest


def _thrust_checks(flight: _Flight, path: _FlownPath):
    at_nodes = _norms(flight.u) * np.exp(path.node_log_mass)
    lowest, highest = _thrust_extremes(flight, path)
    thrust = np.hsplit(path.thrust(np.hstack((lowest, highest))), 2)
    low = _Extremes.of(at_nodes, thrust[0], lowest).worst(highest=False)
    high = _Extremes.of(at_nodes, thrust[1], highest).worst(highest=True)
    tolerance_low = RELATIVE_TOLERANCE * abs(flight.min_thrust)
    yield Check(
        "minimum thrust", low[0], "N", tolerance_low,
        bool(low[0] >= flight.min_thrust - tolerance_low),
        f"limit {flight.min_thrust:.6g} N; lowest |u|*m {flight.where(*low[1:])}; "
        f"lowest at a node {float(np.min(at_nodes)):.6g} N",
    )
    yield _at_most(
        "maximum thrust", high[0], "N", flight.max_thrust,
        RELATIVE_TOLERANCE * abs(flight.max_thrust),
        f"limit {flight.max_thrust:.6g} N; highest |u|*m {flight.where(*high[1:])}; "
        f"highest at a node {float(np.max(at_nodes)):.6g} N",
    )


def _speed_check(flight: _Flight, path: _FlownPath) -> Check:
    """The peak speed: |v|^2 is a quartic on each interval, its peaks at the roots of
    v . v', a cubic."""
    a, b, c = path.velocity_terms()
    roots = cubic_roots(_dots(a, b), 2.0 * _dots(a, c) + _dots(b, b), 3.0 * _dots(b, c),
                        2.0 * _dots(c, c))
    fractions = np.hstack((np.where(np.isnan(roots), 1.0, roots), np.ones((len(a), 1))))
    s = fractions[..., None]
    flown = _norms(a[:, None] + s * (b[:, None] + s * c[:, None]))
    peak = _Extremes.of(_norms(path.node_velocities), flown, fractions).worst(highest=True)
    nodes = _norms(flight.velocities)
    k = int(np.argmax(nodes))
    worst = np.maximum(peak[0], nodes[k])  # NaN propagates
    return _at_most("speed limit", worst, "m/s", flight.max_speed,
                    RELATIVE_TOLERANCE * abs(flight.max_speed),
                    f"limit {flight.max_speed:.6g} m/s; flown peak {peak[0]:.6g} m/s "
                    f"{flight.where(*peak[1:])}; node peak {nodes[k]:.6g} m/s at node {k}")


def _glide_slope_check(flight: _Flight, path: _FlownPath) -> Check:
    """The deepest point below the cone k*|r| <= r_z, or below the ground when k = 0."""
    sine = abs(math.sin(flight.glide_slope_angle_deg * _DEG))
    terms = path.position_terms()
    fractions = _deepest_below_cone(sine, terms) if sine > 0.0 else _lowest(terms)
    s = fractions[..., None]
    r0, r1, r2, r3 = (term[:, None] for term in terms)
    depths = _glide_depth(sine, r0 + s * (r1 + s * (r2 + s * r3)))
    flown = _Extremes.of(_glide_depth(sine, path.node_positions), depths,
                         fractions).worst(highest=True)
    nodes = _glide_depth(sine, flight.positions)
    k = int(np.argmax(nodes))
    worst = np.maximum(flown[0], nodes[k])  # NaN propagates
    cone = "height >= 0" if sine == 0.0 else f"height >= {sine:.6g}*|r|"
    return _at_most("glide slope", worst, "m", 0.0, RELATIVE_TOLERANCE * flight.length_scale,
                    f"depth below the cone ({cone}); flown {flown[0]:.3g} m "
                    f"{flight.where(*flown[1:])}, node {nodes[k]:.3g} m at node {k}")


def _lowest(terms):
    """Per interval, the fractions where the height r_z turns: the roots of its derivative,
    a quadratic (1 where there is none)."""
    _, r1, r2, r3 = (term[:, 2] for term in terms)
    turning = np.stack(quadratic_roots(r1, 2.0 * r2, 3.0 * r3), axis=1)
    return np.where((turning > 0.0) & (turning < 1.0), turning, 1.0)


def _deepest_below_cone(sine, terms):
    """Per interval, the depth k*|r| - r_z sampled at GLIDE_SAMPLES points and every peak
    between two samples, where its derivative turns from positive to negative."""
    def slope_at(index):  # depth' and depth''
        r0, r1, r2, r3 = (term[index[0]] for term in terms)

        def slope(s):
            s = s[..., None]
            r = r0 + s * (r1 + s * (r2 + s * r3))
            dr = r1 + s * (2.0 * r2 + s * 3.0 * r3)
            ddr = 2.0 * r2 + s * 6.0 * r3
            size, along = _norms(r), _dots(r, dr)
            first = sine * along / size - dr[..., 2]
            second = sine * ((_dots(dr, dr) + _dots(r, ddr)) / size - along ** 2 / size ** 3)
            return first, second - ddr[..., 2]
        return slope

    samples = np.broadcast_to(np.linspace(0.0, 1.0, GLIDE_SAMPLES + 1),
                              (len(terms[0]), GLIDE_SAMPLES + 1))
    rate = slope_at((slice(None),))(samples.T)[0].T  # samples.T: one row per sample
    peaks = (rate[:, :-1] > 0.0) & (rate[:, 1:] < 0.0)
    roots = bracketed_roots(slope_at, peaks, samples[:, :-1], samples[:, 1:])
    return np.hstack((samples[:, 1:], np.where(peaks, roots, 1.0)))


def _glide_depth(sine, positions):
    return sine * _norms(positions) - positions[..., 2]


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
        f"sigma - |u| {flight.where(k, 0.0)}, {gap[k] / flight.sigma[k]:.3g} of sigma there; "
        f"fuel booked but not burnt {unburnt:.3g} in log-mass",
    )


def _final_mass_check(flight: _Flight, path: _FlownPath) -> Check:
    booked = float(np.exp(flight.z[-1]))
    real = float(np.exp(path.node_log_mass[-1]))
    shortfall = real - booked
    allowed = max(FINAL_MASS_SHORTFALL_KG, FINAL_MASS_SHORTFALL_OF_FUEL * (flight.wet_mass - real))
    above = RELATIVE_TOLERANCE * abs(flight.dry_mass)
    return Check(
        "final mass", shortfall + 0.0, "kg", allowed,
        bool(-above <= shortfall <= allowed),
        f"booked {booked:.6f} kg, real {real:.6f} kg by the real mass flow; the booked mass "
        f"may lie below the real one by {allowed:.3g} kg, above it by {above:.3g} kg",
    )


def _dry_mass_check(flight: _Flight, path: _FlownPath) -> Check:
    booked = float(np.exp(np.min(flight.z)))
    flown = float(np.exp(np.min(path.node_log_mass)))
    tolerance = RELATIVE_TOLERANCE * abs(flight.dry_mass)
    worst = float(np.minimum(booked, flown))  # NaN propagates
    return Check(
        "dry mass", worst, "kg", tolerance, bool(worst >= flight.dry_mass - tolerance),
        f"limit {flight.dry_mass:.6g} kg; final mass {fixed(np.exp(flight.z[-1]), 6)} kg as "
        f"the program books it, {fixed(np.exp(path.node_log_mass[-1]), 6)} kg by the real "
        "mass flow",
    )


def _pointing_check(flight: _Flight) -> Check | None:
    """The widest tilt of u(t): along u_k + s*du its cosine to the vertical,
    (p + q*s) / |u(s)|, has one turning point, where (q*a - p*b) + (q*b - p*c)*s = 0."""
    angle = flight.max_angle_deg
    if not (0.0 <= angle < 90.0) or not np.any(flight.gravity):
        return None
    up = -flight.gravity / np.linalg.norm(flight.gravity)
    u_start, u_change = flight.u[:-1], flight.u[1:] - flight.u[:-1]
    a, b, c = _dots(u_start, u_start), _dots(u_start, u_change), _dots(u_change, u_change)
    p, q = u_start @ up, u_change @ up
    turning = (p * b - q * a) / (q * b - p * c)
    fractions = np.where((turning > 0.0) & (turning < 1.0), turning, 1.0)[:, None]
    u = u_start + fractions * u_change

    def cosines(vectors):
        size = _norms(vectors)
        return np.divide(vectors @ up, size, out=np.ones(len(size)), where=size > 0.0)

    widest = _Extremes.of(cosines(flight.u), cosines(u)[:, None], fractions).worst(highest=False)
    worst = math.degrees(math.acos(min(max(widest[0], -1.0), 1.0)))
    limit_cosine = math.cos(angle * _DEG)
    loosest = math.degrees(math.acos(max(limit_cosine - POINTING_COSINE_TOLERANCE, -1.0)))
    return Check(
        "thrust pointing", worst, "deg", loosest - angle,
        bool(widest[0] >= limit_cosine - POINTING_COSINE_TOLERANCE),
        f"limit {angle:.6g} deg from the direction opposite to gravity; widest "
        f"{flight.where(*widest[1:])}",
    )
