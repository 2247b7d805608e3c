"""The closed-loop guidance: the plan being flown, how it is tracked, and how it is made again.

Between re-plans the guidance flies the current plan's thrust acceleration u(t) and, in
closed loop, holds the vehicle on the plan's path with a feedback on the believed state
(see `Segment`): u(t) + kp*(r_plan - r_believed) + kd*(v_plan - v_believed), critically damped
at ``TRACKING_FREQUENCY``. The feedback spends the thrust margin the planner keeps
(``max_thrust_pct`` below the engine's maximum) on what the plan does not know: the engine's
bias and misalignment, the disturbance. Without it a fuel-optimal plan, which brakes at its
ceiling to the end, falls behind a weak engine and no later plan within the ceiling can
land. Open loop flies u(t) alone.

A re-plan is a fixed-time plan from the believed state with the believed remaining fuel,
ending when the current plan ends. The planner's last node lies at ``tof - dt`` (nodes at
``k * tof / n``, k = 0..n-1), so ``n`` nodes over a time to go ``T`` take
``tof = T * n / (n - 1)``. The node count keeps the first plan's node spacing,
``n = 1 + round(T / dt)``; re-planning stops for good once that falls below
``MIN_REPLAN_NODES``, the last seconds being flown on the last plan. A re-plan that finds no
landing within ``max_thrust_pct`` tries once more with the engine's whole range: the margin
is the guidance's to spend.
"""

from __future__ import annotations

import bisect
import copy
import math

from .dynamics import Segment

__all__ = ["Course", "MIN_REPLAN_NODES", "TRACKING_GAINS", "replan_nodes", "replan_config",
           "whole_engine"]

# Fewer nodes leave the last seconds too coarse a plan to improve on the one being flown.
MIN_REPLAN_NODES = 5
# The tracking loop's natural frequency (rad/s), critically damped. A constant push d holds
# the vehicle d / kp off the plan: 0.3 m for a 1 % bias of a 10 m/s^2 thrust acceleration.
# Of 0.3, 0.6 and 1 rad/s, 0.6 landed the most flights of the default vehicle under the
# errors of a real one (1 %, 0.5 deg, 0.02 m/s^2, 0.5 m, 0.05 m/s) and touched down softest.
TRACKING_FREQUENCY = 0.6
TRACKING_GAINS = (TRACKING_FREQUENCY ** 2, 2.0 * TRACKING_FREQUENCY)
_TIME_TOLERANCE = 1e-9  # s


def _rows(values) -> list[tuple[float, float, float]]:
    return [(float(a), float(b), float(c)) for a, b, c in values]


class Course:
    """A plan being flown, on the flight's clock: its nodes start at ``start``.

    ``navigation_error`` (believed minus true position and velocity, six values) turns on
    tracking the plan's path; None flies its thrust acceleration alone.
    """

    def __init__(self, landing, start: float, navigation_error=None) -> None:
        self.times = [start + float(t) for t in landing.time_points]
        self.u = _rows(landing.u_values)
        self.r = _rows(landing.positions)
        self.v = _rows(landing.velocities)
        self.gravity = tuple(landing.config.environment.gravity)
        self.error = None if navigation_error is None else tuple(navigation_error)

    def segment(self, t: float) -> tuple[Segment, float]:
        """The command's segment at time ``t`` and when it ends; the last segment (and a
        single node's constant command) runs on without end."""
        last = len(self.times) - 1
        k = min(max(bisect.bisect_right(self.times, t + _TIME_TOLERANCE) - 1, 0),
                max(last - 1, 0))
        if last == 0:
            slope, end = (0.0, 0.0, 0.0), math.inf
        else:
            t0, t1 = self.times[k], self.times[k + 1]
            slope = tuple((b - a) / (t1 - t0) for a, b in zip(self.u[k], self.u[k + 1]))
            end = t1 if k + 1 < last else math.inf
        tracker = None if self.error is None else TRACKING_GAINS
        return Segment(self.times[k], self.u[k], slope, self.r[k], self.v[k], self.gravity,
                       tracker, self.error), end

    def command(self, t: float, state) -> tuple[float, float, float]:
        return self.segment(t)[0].command(t, state)


def replan_nodes(time_to_go: float, node_spacing: float) -> int:
    """Nodes of a re-plan over ``time_to_go`` at the first plan's ``node_spacing``."""
    return 1 + round(time_to_go / node_spacing)


def replan_config(config, position, velocity, mass: float, nodes: int, time_to_go: float):
    """``config`` planned again from a believed state and mass: fixed time, ``nodes`` nodes
    whose last lies ``time_to_go`` ahead, the dry mass kept. ``config`` is not changed."""
    config = copy.copy(config)
    craft = config.spacecraft
    dry_mass = craft.wet_mass - craft.fuel
    craft.initial_position = list(position)
    craft.initial_velocity = list(velocity)
    craft.wet_mass = mass
    craft.fuel = mass - dry_mass
    solver = config.solver
    solver.n = nodes
    solver.time_of_flight = time_to_go * nodes / (nodes - 1)
    solver.tof_min = solver.tof_max = None
    config.spacecraft, config.solver = craft, solver
    return config


def whole_engine(config):
    """``config`` with the planner's thrust ceiling at the engine's maximum, or None when it
    is there already."""
    craft = config.spacecraft
    if not craft.max_thrust_pct < 1.0:
        return None
    config = copy.copy(config)
    craft.max_thrust_pct = 1.0
    config.spacecraft = craft
    return config
