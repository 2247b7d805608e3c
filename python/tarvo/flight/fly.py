"""`fly`: a planned landing flown by an imperfect vehicle under closed-loop guidance."""

from __future__ import annotations

import math
import numbers
import time
from collections.abc import Callable
from typing import Any

from ..landing.plan import plan
from ..study.dispersions import non_negative_integer
from .._portable import from_portable, to_portable
from .._tarvo import Config
from .dynamics import GROUND, NON_FINITE, Vehicle
from .errors import FlightErrors, draw_knowledge_errors, draw_vehicle_errors
from .flight import (GUIDANCE_FAILED, LANDED, LANDING_POSITION_TOLERANCE,
                     LANDING_VELOCITY_TOLERANCE, MISSED_TARGET, OUT_OF_FUEL, Flight, Replan)
from .guidance import MIN_REPLAN_NODES, Course, replan_config, replan_nodes, whole_engine

__all__ = ["fly", "MIN_REPLAN_EVERY", "MIN_SAMPLE_STEP", "MAX_SAMPLES"]

MIN_REPLAN_EVERY = 0.01  # s: no solve is faster
MIN_SAMPLE_STEP = 1e-3  # s
MAX_SAMPLES = 1_000_000
_TIME_TOLERANCE = 1e-9  # s: events closer than this are one instant


def fly(
    config: Config, *, replan_every: float | None = 1.0, errors: FlightErrors | None = None,
    seed: int = 0, sample_step: float = 0.1, method: str | None = None,
    accuracy: str | None = None, unreachable: str | None = None,
    progress: Callable[[Replan], object] | None = None,
) -> Flight:
    """Plan a landing, then fly it with an imperfect vehicle, re-planning on the way.

    The first plan is `tarvo.plan`'s, with ``method``, ``accuracy`` and ``unreachable``
    passed on when given (None: `plan`'s default). The vehicle flies it under gravity, the
    delivered thrust and the real mass flow (see `tarvo.flight.dynamics`): the guidance
    commands the plan's thrust acceleration times the mass it believes, in closed loop with a
    feedback that holds the vehicle on the plan's path; the engine delivers that with its
    errors, within its real range [min_thrust_pct, 1] * real_max_thrust.

    Every ``replan_every`` seconds the guidance plans again, with the same options, from what
    it believes: the true state plus knowledge errors drawn anew, and its own book of the
    mass. The re-plan is a fixed-time plan to the end of the current one with the remaining
    fuel, its nodes as far apart as the first plan's, within ``max_thrust_pct`` or else the
    engine's whole range (see `tarvo.flight.guidance`); it is flown from the moment it was
    asked for (its wall time is recorded, not flown). A failed re-plan leaves the vehicle on
    the plan before it; once fewer than 5 nodes would remain, re-planning stops and the last
    plan is flown out. ``replan_every=None`` flies the first plan open loop, without feedback.

    The flight ends at the plan's last node, or earlier when the vehicle comes down through
    the target's altitude; it landed within 2 m and 3 m/s of the target (see `Flight`).
    ``errors`` (`FlightErrors`, default none) are drawn from ``seed`` (see
    `tarvo.flight.errors`), so the same arguments give the same flight, bit for bit. A first
    plan that fails is a `Flight` with status "GuidanceFailed", not an exception. ``config``
    is read once, when the call starts.

    Parameters
    ----------
    replan_every : float or None, default 1.0
        Seconds between re-plans, at least 0.01; None for open loop.
    errors : FlightErrors, optional
        One-sigma execution and knowledge errors.
    seed : int, default 0
        Seed of the errors' draws (a non-negative integer).
    sample_step : float, default 0.1
        Seconds between recorded samples, at least 0.001, at most a million samples.
    method, accuracy, unreachable : str, optional
        `tarvo.plan`'s options for every plan of the flight.
    progress : callable, optional
        Called with each `Replan` as it is made, in the calling thread; an exception it
        raises stops the flight and reaches the caller.

    Raises
    ------
    TypeError, ValueError
        An argument of the wrong type or out of range, before anything is planned (the
        sample count, once the first plan gives the flight's length); the planning options
        as `tarvo.plan` raises them.
    """
    if not isinstance(config, Config):
        raise TypeError(f"fly() expects a Config, not {type(config).__name__}")
    if errors is None:
        errors = FlightErrors()
    elif not isinstance(errors, FlightErrors):
        raise TypeError(f"errors must be a tarvo.FlightErrors or None, "
                        f"not {type(errors).__name__}")
    if progress is not None and not callable(progress):
        raise TypeError(f"progress must be a callable or None, not {type(progress).__name__}")
    options = {name: value for name, value in
               (("method", method), ("accuracy", accuracy), ("unreachable", unreachable))
               if value is not None}
    pilot = _Pilot(
        from_portable(to_portable(config)), errors, non_negative_integer("seed", seed),
        None if replan_every is None else _seconds("replan_every", replan_every, MIN_REPLAN_EVERY),
        _seconds("sample_step", sample_step, MIN_SAMPLE_STEP), options, progress)
    return pilot.fly()


def _seconds(name: str, value: Any, least: float) -> float:
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{name} must be a number of seconds, not {type(value).__name__}")
    seconds = float(value)
    if not (least <= seconds < math.inf):
        raise ValueError(f"{name} must be finite and at least {least:g} s, got {seconds}")
    return seconds


class _Pilot:
    """One flight in progress: the true state, the guidance's belief and plan, the samples."""

    def __init__(self, config, errors, seed, replan_every, sample_step, options, progress):
        self.config = config
        self.errors, self.seed = errors, seed
        self.replan_every, self.sample_step = replan_every, sample_step
        self.options, self.progress = options, progress
        self.vehicle_errors = draw_vehicle_errors(errors, seed)
        self.vehicle = Vehicle(config, self.vehicle_errors)
        craft = config.spacecraft
        self.target = (craft.target_position, craft.target_velocity)
        self.state = [*craft.initial_position, *craft.initial_velocity,
                      craft.wet_mass, craft.wet_mass]
        self.replans: list[Replan] = []
        self.replan_paths: list[Any] = []
        self.replanning_stopped: float | None = None
        self.fuel_out: float | None = None
        self.samples: list[tuple] = []

    def fly(self) -> Flight:
        first = plan(self.config, **self.options)
        if not first.ok:
            return self._guidance_failed(first)
        closed_loop = self.replan_every is not None
        self.course = Course(first, 0.0, (0.0,) * 6 if closed_loop else None)
        self.end = float(first.time_points[-1])
        self.node_spacing = self.end / max(len(first.time_points) - 1, 1)
        if self.end / self.sample_step > MAX_SAMPLES:
            raise ValueError(f"sample_step {self.sample_step:g} s would record more than "
                             f"{MAX_SAMPLES:,} samples over this {self.end:.6g} s flight")
        t, event = self._fly_out()
        return self._flight(first, t, event)

    def _fly_out(self) -> tuple[float, str | None]:
        """Fly to the end of the flight, re-planning and sampling on the way; when it ended
        and the event that ended it (None at the plan's end)."""
        t, sample, replan = 0.0, 1, 1
        self._record(t)
        while True:
            next_sample = sample * self.sample_step
            next_replan = (replan * self.replan_every
                           if self.replan_every is not None and self.replanning_stopped is None
                           else math.inf)
            stop = min(next_sample, next_replan, self.end)
            t, event = self._advance(t, stop)
            if event is not None or t >= self.end - _TIME_TOLERANCE:
                return t, event
            if next_replan <= stop + _TIME_TOLERANCE:
                self._replan(replan, t)
                replan += 1
            if next_sample <= stop + _TIME_TOLERANCE:
                self._record(t)
                sample += 1

    def _advance(self, t: float, stop: float) -> tuple[float, str | None]:
        vehicle = self.vehicle
        while stop - t > _TIME_TOLERANCE:
            segment, segment_end = self.course.segment(t)
            burning = self.state[6] > vehicle.dry_mass
            t, self.state, event = vehicle.advance(segment, t, self.state,
                                                   min(segment_end, stop))
            if burning and self.fuel_out is None and not self.state[6] > vehicle.dry_mass:
                self.fuel_out = t
            if event is not None:
                return t, event
        return stop, None

    def _record(self, t: float) -> None:
        state = self.state
        command, actual, _ = self.vehicle.thrusts(self.course.command(t, state), state[7], state[6])
        self.samples.append((t, state[0:3], state[3:6], state[6], state[7], command, actual))

    def _replan(self, index: int, t: float) -> None:
        time_to_go = self.end - t
        nodes = replan_nodes(time_to_go, self.node_spacing)
        if nodes < MIN_REPLAN_NODES:
            self.replanning_stopped = t
            return
        knowledge = draw_knowledge_errors(self.errors, self.seed, index)
        position = [x + e for x, e in zip(self.state[0:3], knowledge.position)]
        velocity = [v + e for v, e in zip(self.state[3:6], knowledge.velocity)]
        started = time.perf_counter()
        config = replan_config(self.config, position, velocity, self.state[7], nodes, time_to_go)
        landing, ceiling, message = self._plan_within_engine(config)
        seconds = time.perf_counter() - started
        replan = Replan(t, landing.ok, landing.status, message, time_to_go, nodes,
                        landing.final_mass, seconds, knowledge, ceiling)
        self.replans.append(replan)
        self.replan_paths.append(landing.positions)
        navigation_error = (*knowledge.position, *knowledge.velocity)
        if landing.ok:
            self.course = Course(landing, t, navigation_error)
        else:  # the old plan flies on, tracked from the new fix
            self.course.error = navigation_error
        if self.progress is not None:
            self.progress(replan)

    def _plan_within_engine(self, config):
        """The re-plan within the planner's thrust ceiling, or else within the engine's whole
        range: the landing, the ceiling it used (a fraction of real_max_thrust) and what to
        say about it."""
        landing = plan(config, **self.options)
        engine = None if landing.ok else whole_engine(config)
        if engine is not None:
            retry = plan(engine, **self.options)
            if retry.ok:
                note = (f"no landing within max_thrust_pct ({landing.message}); planned with "
                        f"the engine's whole range")
                return retry, 1.0, " ".join(filter(None, (note, retry.message)))
        return landing, config.spacecraft.max_thrust_pct, landing.message

    def _flight(self, first, t: float, event: str | None) -> Flight:
        self._record(t)
        position, velocity = self.state[0:3], self.state[3:6]
        target_position, target_velocity = self.target
        position_error = math.dist(position, target_position)
        velocity_error = math.dist(velocity, target_velocity)
        status, message = self._outcome(t, event, position_error, velocity_error)
        columns = list(zip(*self.samples))
        return Flight(
            self.config, errors=self.errors, vehicle_errors=self.vehicle_errors,
            landing=first, replans=self.replans, replan_paths=self.replan_paths,
            seed=self.seed, replan_every=self.replan_every, sample_step=self.sample_step,
            status=status, message=message, touchdown_time=t,
            touchdown_position_error=position_error, touchdown_velocity_error=velocity_error,
            final_mass=self.state[6], replanning_stopped=self.replanning_stopped,
            times=columns[0], positions=columns[1], velocities=columns[2], masses=columns[3],
            believed_masses=columns[4], thrust_commanded=columns[5], thrust_actual=columns[6],
        )

    def _outcome(self, t, event, position_error, velocity_error) -> tuple[str, str | None]:
        height = self.state[2] - self.target[0][2]
        if event == NON_FINITE:
            return MISSED_TARGET, f"the state stopped being finite at t = {t:.6g} s"
        if self.fuel_out is not None:
            return OUT_OF_FUEL, (f"the fuel ran out at t = {self.fuel_out:.6g} s; the flight "
                                 f"ended {position_error:.3g} m from the target")
        if (position_error <= LANDING_POSITION_TOLERANCE
                and velocity_error <= LANDING_VELOCITY_TOLERANCE):
            return LANDED, None
        where = (f"reached the target's altitude at t = {t:.6g} s" if event == GROUND
                 else f"ended its plan at t = {t:.6g} s, {height:.3g} m above the target")
        return MISSED_TARGET, (f"the vehicle {where}, {position_error:.3g} m from the target "
                               f"at {velocity_error:.3g} m/s")

    def _guidance_failed(self, first) -> Flight:
        empty = dict(times=(), positions=(), velocities=(), masses=(), believed_masses=(),
                     thrust_commanded=(), thrust_actual=())
        return Flight(
            self.config, errors=self.errors, vehicle_errors=self.vehicle_errors,
            landing=first, replans=(), replan_paths=(), seed=self.seed,
            replan_every=self.replan_every, sample_step=self.sample_step,
            status=GUIDANCE_FAILED, message=f"the first plan failed: {first.message}",
            touchdown_time=math.nan, touchdown_position_error=math.nan,
            touchdown_velocity_error=math.nan, final_mass=math.nan,
            replanning_stopped=None, **empty,
        )

