"""`tarvo fly`: plan a landing and fly it with closed-loop guidance, from the command line.

    tarvo fly [CONFIG.json | -] [--replan-every S | --open-loop] [--seed K]
        [--thrust-error SIGMA] [--pointing-error DEG] [--acceleration-error SIGMA]
        [--position-error SIGMA] [--velocity-error SIGMA] [--mass-flow-error SIGMA]
        [--method continuous|nodes] [--accuracy default|high] [--closest]
        [--plot FILE.png] [--result FILE.json] [--csv FILE] [--progress]

Prints the outcome, the touchdown errors, the fuel, the re-plans and the worst and median
guidance time. Exit status 0 when the vehicle landed, 1 when it did not or on any failure
(one line on stderr). The error and re-planning options are also `tarvo monte-carlo`'s.
"""

from __future__ import annotations

import sys

from .io import Outputs, Parser, emit, fail, note, read_config, run_command
from .main import requested_outputs
from .options import add_planning_options, planning_options
from .._text import fixed, shorten_numbers

# Command-line option, FlightErrors field, metavar and help of each error.
ERROR_OPTIONS = (
    ("--thrust-error", "thrust_magnitude", "SIGMA", "relative thrust bias (0.01 is 1 %%)"),
    ("--pointing-error", "thrust_pointing_deg", "DEG", "thrust misalignment, degrees"),
    ("--acceleration-error", "acceleration", "SIGMA",
     "constant disturbing acceleration per axis, m/s^2"),
    ("--position-error", "position_knowledge", "SIGMA",
     "position knowledge per axis at each re-plan, m"),
    ("--velocity-error", "velocity_knowledge", "SIGMA",
     "velocity knowledge per axis at each re-plan, m/s"),
    ("--mass-flow-error", "mass_flow", "SIGMA", "relative bias of the fuel consumption"),
)
DEFAULT_REPLAN_EVERY = 1.0


def add_flight_options(parser, note="") -> None:
    """The flight's error (one-sigma each, drawn from --seed) and re-planning options."""
    group = parser.add_argument_group("flight", "one-sigma errors of the flown vehicle and "
                                                "how often the guidance re-plans" + note)
    for option, field, metavar, text in ERROR_OPTIONS:
        group.add_argument(option, dest=field, type=float, metavar=metavar, help=text)
    group.add_argument("--replan-every", type=float, metavar="S",
                       help=f"seconds between re-plans (default {DEFAULT_REPLAN_EVERY:g})")
    group.add_argument("--open-loop", action="store_true",
                       help="fly the first plan without re-planning")


def flight_options(arguments):
    """(errors, replan_every, given): the `FlightErrors` and re-planning interval the options
    ask for, and whether any flight option was given at all. ValueError for bad values."""
    from ..flight.errors import FlightErrors

    values = {field: getattr(arguments, field) for _, field, _, _ in ERROR_OPTIONS
              if getattr(arguments, field) is not None}
    if arguments.open_loop and arguments.replan_every is not None:
        raise ValueError("--open-loop and --replan-every exclude each other")
    given = bool(values) or arguments.open_loop or arguments.replan_every is not None
    errors = FlightErrors(**values)
    replan_every = (None if arguments.open_loop else
                    DEFAULT_REPLAN_EVERY if arguments.replan_every is None
                    else arguments.replan_every)
    return errors, replan_every, given


def parse_arguments(argv):
    parser = Parser(
        prog="tarvo fly", description=(
            "Plan a landing, then fly it with an imperfect vehicle under closed-loop "
            "guidance that re-plans from what it believes, and say where it touched down."))
    parser.add_argument("config", nargs="?", metavar="CONFIG.json",
                        help="configuration document, '-' for standard input "
                             "(default: the built-in configuration)")
    parser.add_argument("--seed", type=int, default=0, help="seed of the errors (default 0)")
    add_flight_options(parser)
    parser.add_argument("--plot", metavar="FILE.png", help="draw the flight into an image")
    parser.add_argument("--result", metavar="FILE.json",
                        help="write the whole flight as one JSON document")
    parser.add_argument("--csv", metavar="FILE", help="write the samples as CSV")
    add_planning_options(parser)
    parser.add_argument("--progress", action="store_true",
                        help="report each re-plan on stderr")
    return parser.parse_args(argv)


def replan_line(replan):
    outcome = f"{replan.status}" if replan.ok else f"failed: {replan.message}"
    return (f"re-plan at t = {fixed(replan.time)} s: {replan.nodes} nodes, "
            f"{replan.solve_seconds * 1e3:.1f} ms, {outcome}")


def summary_lines(flight):
    fuel = flight.config.spacecraft.fuel
    loop = ("open loop" if flight.replan_every is None
            else f"every {flight.replan_every:g} s")
    stopped = ("" if flight.replanning_stopped is None else
               f"; stopped at t = {fixed(flight.replanning_stopped)} s, too few nodes left")
    lines = [
        f"status:           {flight.status}",
        f"touchdown error:  position {fixed(flight.touchdown_position_error)} m, velocity "
        f"{fixed(flight.touchdown_velocity_error)} m/s (t = {fixed(flight.touchdown_time)} s)",
        f"fuel used:        {fixed(flight.fuel_used)} kg of {fixed(fuel)} kg "
        f"(first plan {fixed(flight.landing.fuel_used)} kg)",
        f"re-plans:         {len(flight.replans)} ({flight.failed_replans} failed), "
        f"{loop}{stopped}",
    ]
    if flight.replans:
        lines.append(f"guidance time:    worst {flight.worst_guidance_seconds * 1e3:.1f} ms, "
                     f"median {flight.median_guidance_seconds * 1e3:.1f} ms")
    if flight.message:
        lines.append(f"note:             {flight.message}")
    return lines


def run(argv):
    from ..flight.fly import fly
    from ..flight.tables import flight_bytes

    arguments = parse_arguments(argv)
    try:
        errors, replan_every, _ = flight_options(arguments)
    except ValueError as error:
        fail(f"tarvo fly: {error}")
    outputs = Outputs()
    files = requested_outputs(arguments, outputs, flight_bytes)
    config = read_config(arguments.config)
    try:
        flight = fly(config, replan_every=replan_every, errors=errors, seed=arguments.seed,
                     progress=(lambda replan: note(replan_line(replan)))
                     if arguments.progress else None, **planning_options(arguments))
    except (ValueError, TypeError) as error:
        fail(f"tarvo fly: {error}")
    if flight.status == "GuidanceFailed":
        fail(f"guidance failed: {shorten_numbers(flight.message)}")
    for path, content in files:
        outputs.write_bytes(path, lambda: content(flight))
    status = outputs.report()
    emit("\n".join(summary_lines(flight)))
    return status or (0 if flight.ok else 1)


def main(argv=None):
    """Run the command; the exit status."""
    return run_command(run, list(sys.argv[1:] if argv is None else argv))
