"""`Flight.plot`: one figure of a flown landing (a matplotlib Figure on an Agg canvas, without
pyplot's global state)."""

from __future__ import annotations

import math

from .._optional import agg_figure
from ..landing.plot import LIMIT_COLOUR, TRAJECTORY_COLOUR, _limit_lines
from .flight import GUIDANCE_FAILED, LANDING_POSITION_TOLERANCE
from .._text import fixed

__all__ = ["plot_flight", "touchdown_scatter"]

PLAN_COLOUR = "tab:grey"
COMMAND_COLOUR = "tab:orange"
LANDED, FAILED = "tab:green", "tab:red"


def plot_flight(flight, *, figsize=(15.0, 9.0), title=None):
    """Draw ``flight`` and return the Figure (save it with ``figure.savefig(path)``).

    Panels, with their titles: "path" (3-D: the flown path, the first plan and, faint, each
    re-plan's path), "thrust" (commanded and delivered, N, with the engine's range and the
    planner's ceiling), "altitude" (m against time, flown and first plan), "mass" (true and
    believed, kg) and "touchdown" (where the vehicle touched down around the target, with
    the landing tolerance).

    Raises ValueError for a flight that never flew ("GuidanceFailed"), ImportError without
    matplotlib.
    """
    if flight.status == GUIDANCE_FAILED:
        raise ValueError(f"cannot plot a flight that never flew: {flight.message}")
    figure = agg_figure("plotting a flight", figsize=figsize, layout="constrained")
    grid = figure.add_gridspec(2, 3, width_ratios=(1.3, 1.0, 1.0))
    config = flight.config
    _draw_path(figure.add_subplot(grid[:, 0], projection="3d"), flight, config)
    _draw_thrust(figure.add_subplot(grid[0, 1]), flight, config)
    _draw_altitude(figure.add_subplot(grid[0, 2]), flight)
    _draw_mass(figure.add_subplot(grid[1, 1]), flight, config)
    _draw_touchdown(figure.add_subplot(grid[1, 2]), flight, config)
    figure.suptitle(title if title is not None else _default_title(flight))
    return figure


def _default_title(flight):
    loop = ("open loop" if flight.replan_every is None
            else f"re-planned every {flight.replan_every:g} s")
    return (f"Flight, {loop}: {flight.status}, {fixed(flight.touchdown_position_error, 2)} m "
            f"and {fixed(flight.touchdown_velocity_error, 2)} m/s from the target, "
            f"fuel used {fixed(flight.fuel_used, 1)} kg, {len(flight.replans)} re-plans "
            f"({flight.failed_replans} failed)")


def _draw_path(axes, flight, config):
    for index, path in enumerate(path for path in flight.replan_paths if len(path)):
        axes.plot(path[:, 0], path[:, 1], path[:, 2], color=PLAN_COLOUR, alpha=0.3,
                  linewidth=0.7, label="re-plans" if index == 0 else None)
    planned = flight.landing.positions
    axes.plot(planned[:, 0], planned[:, 1], planned[:, 2], color=PLAN_COLOUR, linestyle="--",
              label="first plan")
    flown = flight.positions
    axes.plot(flown[:, 0], flown[:, 1], flown[:, 2], color=TRAJECTORY_COLOUR, label="flown")
    target = config.spacecraft.target_position
    axes.scatter([target[0]], [target[1]], [target[2]], color=LIMIT_COLOUR, marker="x", s=60,
                 label="target")
    axes.set_title("path")
    axes.set_xlabel("x (m)")
    axes.set_ylabel("y (m)")
    axes.set_zlabel("altitude z (m)")
    axes.legend(loc="upper center", bbox_to_anchor=(0.5, 0.0), ncols=2)


def _draw_thrust(axes, flight, config):
    import numpy

    spacecraft = config.spacecraft
    actual = numpy.linalg.norm(flight.thrust_actual, axis=1)
    commanded = numpy.linalg.norm(flight.thrust_commanded, axis=1)
    axes.plot(flight.times, commanded, color=COMMAND_COLOUR, label="commanded")
    axes.plot(flight.times, actual, color=TRAJECTORY_COLOUR, linestyle="--", label="delivered")
    scale = spacecraft.real_max_thrust
    _limit_lines(axes, numpy.concatenate((actual, commanded)), "N", [
        ("engine maximum", scale, "-"),
        ("planner's ceiling", scale * spacecraft.max_thrust_pct, "--"),
        ("engine minimum", scale * spacecraft.min_thrust_pct, ":"),
    ])
    axes.set_title("thrust")
    axes.set_xlabel("time (s)")
    axes.set_ylabel("thrust (N)")
    axes.legend(loc="best", fontsize="small")


def _draw_altitude(axes, flight):
    landing = flight.landing
    axes.plot(landing.time_points, landing.positions[:, 2], color=PLAN_COLOUR, linestyle="--",
              label="first plan")
    axes.plot(flight.times, flight.positions[:, 2], color=TRAJECTORY_COLOUR, label="flown")
    for replan in flight.replans:
        if not replan.ok:
            axes.axvline(replan.time, color=FAILED, alpha=0.3, linewidth=0.8)
    axes.set_title("altitude")
    axes.set_xlabel("time (s)")
    axes.set_ylabel("altitude z (m)")
    axes.legend(loc="best", title="red lines: failed re-plans" if flight.failed_replans else None)


def _draw_mass(axes, flight, config):
    spacecraft = config.spacecraft
    axes.plot(flight.times, flight.masses, color=TRAJECTORY_COLOUR, label="true")
    axes.plot(flight.times, flight.believed_masses, color=COMMAND_COLOUR, linestyle="--",
              label="believed")
    axes.plot(flight.landing.time_points, flight.landing.masses, color=PLAN_COLOUR,
              linestyle=":", label="first plan")
    _limit_lines(axes, flight.masses, "kg", [("dry mass", spacecraft.wet_mass - spacecraft.fuel,
                                              "--")])
    axes.set_title("mass")
    axes.set_xlabel("time (s)")
    axes.set_ylabel("mass (kg)")
    axes.legend(loc="best")


def _draw_touchdown(axes, flight, config):
    target = config.spacecraft.target_position
    miss = flight.positions[-1] - target
    colour = LANDED if flight.ok else FAILED
    axes.scatter([miss[0]], [miss[1]], color=colour, s=40,
                 label=f"touchdown, {miss[2]:+.2f} m in altitude")
    axes.scatter([0.0], [0.0], color=LIMIT_COLOUR, marker="x", s=60, label="target")
    _tolerance_circle(axes)
    reach = max(1.5 * LANDING_POSITION_TOLERANCE, 1.2 * math.hypot(miss[0], miss[1]))
    axes.set_xlim(-reach, reach)
    axes.set_ylim(-reach, reach)
    axes.set_aspect("equal")
    axes.set_title("touchdown")
    axes.set_xlabel("x miss (m)")
    axes.set_ylabel("y miss (m)")
    axes.legend(loc="upper left", bbox_to_anchor=(1.02, 1.0), fontsize="small")


def _tolerance_circle(axes):
    import numpy

    angle = numpy.linspace(0.0, 2.0 * math.pi, 121)
    radius = LANDING_POSITION_TOLERANCE
    axes.plot(radius * numpy.cos(angle), radius * numpy.sin(angle), color=PLAN_COLOUR,
              linestyle=":", label=f"landing tolerance {radius:g} m")


def touchdown_scatter(axes, table):
    """The study panel: every flown run's horizontal touchdown miss, by outcome."""
    flown = table[table["flight_miss_x"].notna()]
    landed = flown["landed"].astype(bool).to_numpy()
    x, y = flown["flight_miss_x"].to_numpy(), flown["flight_miss_y"].to_numpy()
    axes.scatter(x[landed], y[landed], s=12, color=LANDED, label="landed")
    axes.scatter(x[~landed], y[~landed], s=18, color=FAILED, marker="x", label="not landed")
    axes.scatter([0.0], [0.0], color=LIMIT_COLOUR, marker="+", s=80, label="target")
    _tolerance_circle(axes)
    axes.set_aspect("equal", adjustable="datalim")
    axes.set_xlabel("x miss (m)")
    axes.set_ylabel("y miss (m)")
    axes.set_title("Touchdown")
    axes.legend(loc="best", fontsize="small")
