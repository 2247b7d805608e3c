"""`Landing.plot`: one figure that shows a planned landing.

Five panels: the 3-D path with the target and the glide-slope cone, altitude against
horizontal distance, thrust, mass and speed against time, each with the limits the cone
program imposed. The figure is a `matplotlib.figure.Figure` on an Agg canvas: no pyplot
state, no display needed.
"""

from __future__ import annotations

import math

from .._optional import agg_figure
from .._text import fixed

__all__ = ["plot_landing"]

TRAJECTORY_COLOUR = "tab:blue"
LIMIT_COLOUR = "tab:red"
BOUND_COLOUR = "tab:grey"


def plot_landing(landing, *, figsize=(15.0, 9.0), title=None):
    """Draw `landing` and return the Figure (save it with ``figure.savefig(path)``).

    Panels, with their titles: "path" (3-D, metres), "altitude" (altitude against horizontal
    distance from the origin), "thrust" (N, with the minimum and maximum thrust), "mass" (kg,
    with the dry mass) and "speed" (m/s, with the speed limit). A limit far outside the
    plotted values is kept off the axis and marked "(off scale)" in its legend entry.

    Raises ValueError for a landing without a trajectory, ImportError without matplotlib.
    """
    if not len(landing.time_points):
        raise ValueError(f"cannot plot a failed landing: {landing.message}")
    figure = agg_figure("plotting a landing", figsize=figsize, layout="constrained")
    grid = figure.add_gridspec(2, 3, width_ratios=(1.3, 1.0, 1.0))
    config = landing.config
    _draw_path(figure.add_subplot(grid[:, 0], projection="3d"), landing, config)
    _draw_altitude(figure.add_subplot(grid[0, 1]), landing, config)
    _draw_thrust(figure.add_subplot(grid[0, 2]), landing, config)
    _draw_mass(figure.add_subplot(grid[1, 1]), landing, config)
    _draw_speed(figure.add_subplot(grid[1, 2]), landing, config)
    figure.suptitle(title if title is not None else _default_title(landing))
    return figure


def _default_title(landing):
    return (f"Landing ({landing.method}): {landing.status}, "
            f"time of flight {fixed(landing.time_of_flight, 2)} s, "
            f"fuel used {fixed(landing.fuel_used, 1)} kg, "
            f"final mass {fixed(landing.final_mass, 1)} kg")


def glide_slope_elevation_deg(environment):
    """The least elevation above the horizontal plane through the origin that every node
    keeps, in degrees, or None when the program bounds the altitude instead.

    The program states z >= |sin(angle)| * |r| with the apex at the origin of the position
    frame (not at the target), so the cone's half-angle about the vertical is 90 degrees
    less this elevation; a negative angle gives the same cone as its absolute value.
    """
    sine = math.sin(environment.glide_slope_angle_deg * 0.017453292519943295)
    if sine == 0.0 or not math.isfinite(sine):
        return None
    return math.degrees(math.asin(abs(sine)))


def _draw_path(axes, landing, config):
    positions = landing.positions
    start = positions[0]
    target = config.spacecraft.target_position
    axes.plot(positions[:, 0], positions[:, 1], positions[:, 2],
              color=TRAJECTORY_COLOUR, label="trajectory")
    axes.plot(positions[:, 0], positions[:, 1], 0.0 * positions[:, 2], color=BOUND_COLOUR,
              linestyle=":", label="ground track (z = 0)")
    axes.scatter([start[0]], [start[1]], [start[2]], color="tab:green", label="start")
    axes.scatter([target[0]], [target[1]], [target[2]], color=LIMIT_COLOUR, marker="x",
                 s=60, label="target")
    elevation = glide_slope_elevation_deg(config.environment)
    if elevation is not None:
        _draw_cone(axes, positions, elevation)
    axes.set_title("path")
    axes.set_xlabel("x (m)")
    axes.set_ylabel("y (m)")
    axes.set_zlabel("altitude z (m)")
    axes.legend(loc="upper center", bbox_to_anchor=(0.5, 0.0), ncols=2)


def _draw_cone(axes, positions, elevation_deg):
    """The glide-slope surface z = tan(elevation) * horizontal distance, apex at the origin,
    drawn out to the trajectory's horizontal reach and height."""
    import numpy

    slope = math.tan(math.radians(elevation_deg))
    reach = _cone_reach(positions, slope, 1.1)
    radius, angle = numpy.meshgrid(numpy.linspace(0.0, reach, 12),
                                   numpy.linspace(0.0, 2.0 * math.pi, 37))
    axes.plot_surface(radius * numpy.cos(angle), radius * numpy.sin(angle), radius * slope,
                      color=BOUND_COLOUR, alpha=0.15, linewidth=0,
                      label=f"glide-slope cone ({elevation_deg:g}° elevation)")


def _cone_reach(positions, slope, scale):
    """How far out to draw the cone z = slope * distance: the trajectory's horizontal
    reach, or less where the cone would rise above its highest node (steep cones)."""
    import numpy

    reach = float(numpy.hypot(positions[:, 0], positions[:, 1]).max()) * scale
    height = float(positions[:, 2].max()) * scale
    if slope > 0.0 and height > 0.0:
        reach = min(reach, height / slope)
    return reach if reach > 0.0 else 1.0


def _draw_altitude(axes, landing, config):
    import numpy

    positions = landing.positions
    distance = numpy.hypot(positions[:, 0], positions[:, 1])
    target = config.spacecraft.target_position
    axes.plot(distance, positions[:, 2], color=TRAJECTORY_COLOUR, label="trajectory")
    axes.plot([math.hypot(target[0], target[1])], [target[2]], "x", color=LIMIT_COLOUR,
              markersize=8, label="target")
    elevation = glide_slope_elevation_deg(config.environment)
    if elevation is None:
        axes.axhline(0.0, color=BOUND_COLOUR, linestyle="--", label="altitude floor (z = 0)")
    else:
        slope = math.tan(math.radians(elevation))
        edge = numpy.array([0.0, _cone_reach(positions, slope, 1.0)])
        axes.plot(edge, edge * slope, color=BOUND_COLOUR,
                  linestyle="--", label=f"glide slope ({elevation:g}° elevation)")
    axes.set_title("altitude")
    axes.set_xlabel("horizontal distance from origin (m)")
    axes.set_ylabel("altitude z (m)")
    axes.legend(loc="best")


def _draw_thrust(axes, landing, config):
    spacecraft = config.spacecraft
    scale = spacecraft.real_max_thrust
    axes.plot(landing.time_points, landing.thrusts, color=TRAJECTORY_COLOUR, marker=".",
              markersize=4, label="thrust")
    _limit_lines(axes, landing.thrusts, "N", [
        ("maximum thrust", scale * spacecraft.max_thrust_pct, "--"),
        ("minimum thrust", scale * spacecraft.min_thrust_pct, ":"),
    ])
    axes.set_title("thrust")
    axes.set_xlabel("time (s)")
    axes.set_ylabel("thrust (N)")
    axes.legend(loc="best")


def _draw_mass(axes, landing, config):
    spacecraft = config.spacecraft
    masses = landing.masses
    axes.plot(landing.time_points, masses, color=TRAJECTORY_COLOUR, label="mass")
    _limit_lines(axes, masses, "kg", [("dry mass", spacecraft.wet_mass - spacecraft.fuel, "--")])
    axes.set_title("mass")
    axes.set_xlabel("time (s)")
    axes.set_ylabel("mass (kg)")
    axes.legend(loc="best")


def _draw_speed(axes, landing, config):
    import numpy

    speeds = numpy.linalg.norm(landing.velocities, axis=1)
    axes.plot(landing.time_points, speeds, color=TRAJECTORY_COLOUR, label="speed")
    _limit_lines(axes, speeds, "m/s", [("speed limit", config.spacecraft.max_velocity, "--")])
    axes.set_title("speed")
    axes.set_xlabel("time (s)")
    axes.set_ylabel("speed (m/s)")
    axes.legend(loc="best")


def _limit_lines(axes, values, unit, limits):
    """Horizontal lines at the limits (name, value, line style) of a panel.

    A limit that lies more than the values' own span away from them is drawn outside the
    view and its legend entry says "(off scale)", so that a distant limit (a 1000 m/s speed
    limit under a 60 m/s descent) does not flatten the curve. Infinite limits are left out.
    """
    low, high = float(values.min()), float(values.max())
    span = max(high - low, abs(high) * 0.05, 1e-9)
    shown = [low, high]
    for name, value, linestyle in limits:
        if not math.isfinite(value):
            continue
        label = f"{name} {value:g} {unit}"
        if low - span <= value <= high + span:
            shown.append(value)
        else:
            label += " (off scale)"
        axes.axhline(value, color=LIMIT_COLOUR, linestyle=linestyle, label=label)
    margin = 0.08 * max(max(shown) - min(shown), 1e-9)
    axes.set_ylim(min(shown) - margin, max(shown) + margin)
