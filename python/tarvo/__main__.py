"""Solve one landing problem and print a short summary.

    python -m tarvo                        the built-in default configuration
    python -m tarvo CONFIG.json            a configuration document
    python -m tarvo --print-default-config the default configuration document
"""

import argparse
import math
import sys

from . import Config, solve


def parse_arguments(argv):
    parser = argparse.ArgumentParser(
        prog="python -m tarvo",
        description="Compute a fuel-optimal powered-descent trajectory and summarise it.",
    )
    parser.add_argument(
        "config", nargs="?", metavar="CONFIG.json",
        help="configuration document (default: the built-in configuration)",
    )
    parser.add_argument(
        "--print-default-config", action="store_true",
        help="print the default configuration document and exit",
    )
    return parser.parse_args(argv)


def fail(message):
    """Report one line on stderr and leave with status 1."""
    print(" ".join(str(message).split()), file=sys.stderr)
    sys.exit(1)


def read_config(path):
    """Read a configuration document; every failure becomes '<file>: <message>'."""
    try:
        with open(path, "rb") as stream:
            text = stream.read().decode("utf-8")
    except OSError as error:
        fail(f"{path}: {error.strerror or error}")
    except UnicodeDecodeError as error:
        fail(f"{path}: invalid UTF-8 at byte {error.start}")
    try:
        return Config.from_json(text)
    except ValueError as error:
        fail(f"{path}: {error}")


def time_of_flight(config, trajectory):
    """The time of flight of the solve: the fixed one, or dt * N recovered from the grid.

    The grid is t_k = k * tof / N, so a single node (N = 1) carries no trace of it."""
    fixed = config.solver.time_of_flight
    if fixed is not None:
        return fixed, "fixed"
    times = trajectory.time_points
    if len(times) < 2:
        return None, "searched"
    return float(times[1]) * len(times), "searched"


def share_of(thrust, scale):
    return f" ({thrust / scale * 100.0:.1f} % of real_max_thrust)" if scale else ""


def summary_lines(config, trajectory):
    spacecraft = config.spacecraft
    tof, how = time_of_flight(config, trajectory)
    thrusts = trajectory.thrusts
    peak = float(thrusts.max()) if len(thrusts) else 0.0
    final_mass = trajectory.final_mass
    tof_text = "unknown (single node)" if tof is None else f"{tof:.3f} s"
    position_error = math.dist(trajectory.positions[-1], spacecraft.target_position)
    velocity_error = math.dist(trajectory.velocities[-1], spacecraft.target_velocity)
    return [
        f"status:           {trajectory.status}",
        f"nodes:            {len(trajectory.time_points)}",
        f"time of flight:   {tof_text} ({how})",
        f"final mass:       {final_mass:.3f} kg",
        f"fuel used:        {spacecraft.wet_mass - final_mass:.3f} kg"
        f" of {spacecraft.fuel:.3f} kg",
        f"peak thrust:      {peak:.3f} N{share_of(peak, spacecraft.real_max_thrust)}",
        f"touchdown error:  position {position_error:.3e} m, velocity {velocity_error:.3e} m/s",
    ]


def main(argv=None):
    arguments = parse_arguments(argv)
    if arguments.print_default_config:
        print(Config().to_json())
        return 0
    config = Config() if arguments.config is None else read_config(arguments.config)
    try:
        trajectory = solve(config)
    except ValueError as error:
        fail(f"solve failed: {error}")
    print("\n".join(summary_lines(config, trajectory)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
