"""The tarvo command line: plan one landing, print its summary, write its plot and tables.

    tarvo [CONFIG.json | -] [--method continuous|nodes] [--accuracy default|high] [--closest]
          [--plot FILE.png] [--csv FILE] [--result FILE.json] [--progress] [--verify]
    tarvo --print-default-config
    tarvo --version
    tarvo monte-carlo ...          a dispersion study (tarvo.cli.study)
    tarvo fly ...                  a flight with closed-loop guidance (tarvo.cli.fly)

`python -m tarvo` is the same program. The landing's files are written before anything is
printed; every failure is one line on stderr (stdout when stderr is closed) and exit status 1.
"""

from __future__ import annotations

import math
import sys

from .io import (
    Outputs, Parser, emit, fail, figure_bytes, image_format, note, read_config,
    require, run_command,
)
from .options import add_planning_options, planning_options
from .._text import fixed, shorten_numbers
from ..landing.landing import peak_thrust, touchdown_errors


def main(argv=None):
    """Run the command line on argv (default: sys.argv[1:]) and return the exit status."""
    return run_command(_dispatch, list(sys.argv[1:] if argv is None else argv))


def _dispatch(argv):
    if argv[:1] == ["fly"]:
        from .fly import run as fly

        return fly(argv[1:])
    if argv[:1] == ["monte-carlo"]:
        import importlib

        try:
            study_cli = importlib.import_module("tarvo.cli.study")
        except ModuleNotFoundError as error:
            if error.name != "tarvo.cli.study":
                raise
            fail("monte-carlo: the dispersion study is not part of this installation")
        return study_cli.run(argv[1:])
    return run(argv)


def parse_arguments(argv):
    parser = Parser(
        prog="python -m tarvo" if sys.argv[0].endswith("__main__.py") else "tarvo",
        description="Compute a fuel-optimal powered-descent trajectory and summarise it. "
                    "'tarvo monte-carlo --help' describes the dispersion study, "
                    "'tarvo fly --help' the flight with closed-loop guidance.",
    )
    parser.add_argument(
        "config", nargs="?", metavar="CONFIG.json",
        help="configuration document, '-' for standard input "
             "(default: the built-in configuration)",
    )
    parser.add_argument("--print-default-config", action="store_true",
                        help="print the default configuration document and exit")
    parser.add_argument("--plot", metavar="FILE.png",
                        help="draw the landing into an image (.png, .pdf, .svg, ...)")
    parser.add_argument("--csv", metavar="FILE",
                        help="write the per-node table as CSV (one row per node)")
    parser.add_argument("--result", metavar="FILE.json",
                        help="write the configuration, the results, the trials and the "
                             "per-node arrays as one JSON document")
    parser.add_argument("--progress", action="store_true",
                        help="report each trial of the time-of-flight search on stderr")
    add_planning_options(parser)
    parser.add_argument("--verify", action="store_true",
                        help="check the landing against its physics, print the checks, and "
                             "exit with status 1 when one fails")
    parser.add_argument("--version", action="store_true", help="print the version and exit")
    return parser.parse_args(argv)


def package_version():
    from importlib import metadata

    try:
        return metadata.version("tarvo")
    except metadata.PackageNotFoundError:
        from .. import __version__

        return __version__


def run(argv):
    arguments = parse_arguments(argv)
    if arguments.version:
        emit(f"tarvo {package_version()}")
        return 0
    if arguments.print_default_config:
        from .. import Config

        emit(Config().to_json())
        return 0
    from ..landing.tables import landing_bytes

    outputs = Outputs()
    files = requested_outputs(arguments, outputs, landing_bytes)
    config = read_config(arguments.config)
    landing = plan_landing(config, arguments.progress, planning_options(arguments))
    if landing.verification is None:
        fail(f"solve failed: {shorten_numbers(landing.message)}")
    for path, content in files:
        outputs.write_bytes(path, lambda: content(landing))
    status = outputs.report()
    emit("\n".join(summary_lines(landing)))
    if arguments.verify:
        emit(str(landing.verification))
        return status or (0 if landing.ok and landing.verification.ok else 1)
    return status or (0 if landing.ok else 1)


def requested_outputs(arguments, outputs, table_bytes):
    """(path, value -> file content) of every requested output file (--plot, --csv,
    --result), checked before any work is done: the image format and the libraries it
    needs, and that the path can be written. ``table_bytes(value, suffix)`` makes the
    .csv and .json content of a landing or a flight; the plot is ``value.plot()``."""
    files = []
    if arguments.plot is not None:
        image = image_format(arguments.plot)
        files.append((outputs.claim(arguments.plot, "--plot"),
                      lambda value: figure_bytes(value.plot(), image)))
    if arguments.csv is not None:
        require("pandas", "--csv")
        files.append((outputs.claim(arguments.csv, "--csv"),
                      lambda value: table_bytes(value, ".csv")))
    if arguments.result is not None:
        files.append((outputs.claim(arguments.result, "--result"),
                      lambda value: table_bytes(value, ".json")))
    return files


def plan_landing(config, progress, options):
    """Plan the landing; with progress, each trial of the search goes to stderr as it is
    made."""
    from .. import plan

    if not progress:
        return plan(config, **options)
    reported = 0

    def on_trial(trial):
        nonlocal reported
        reported += 1
        note(trial_line(reported, *trial))

    return plan(config, progress=on_trial, **options)


def trial_line(number, time_of_flight, status, final_mass):
    mass = f", final mass {fixed(final_mass)} kg" if math.isfinite(final_mass) else ""
    return f"trial {number}: time of flight {fixed(time_of_flight)} s, {status}{mass}"


def share_of(thrust, scale):
    return f" ({fixed(thrust / scale * 100.0, 1)} % of real_max_thrust)" if scale else ""


def summary_lines(landing):
    """The eight-line summary of a landing that was found, and a note when an option
    changed it (the closest landing) or why it is not ok (a failed verification)."""
    config = landing.config
    spacecraft = config.spacecraft
    how = "searched" if config.solver.time_of_flight is None else "fixed"
    tof = landing.time_of_flight
    tof_text = f"{fixed(tof)} s" if math.isfinite(tof) else "unknown (single node)"
    peak = peak_thrust(landing)
    position_error, velocity_error = touchdown_errors(landing)
    return [
        f"status:           {landing.status}",
        f"method:           {landing.method}",
        f"nodes:            {len(landing.time_points)}",
        f"time of flight:   {tof_text} ({how})",
        f"final mass:       {fixed(landing.final_mass)} kg",
        f"fuel used:        {fixed(landing.fuel_used)} kg of {fixed(spacecraft.fuel)} kg",
        f"peak thrust:      {fixed(peak)} N{share_of(peak, spacecraft.real_max_thrust)}",
        f"touchdown error:  position {position_error:.3e} m, velocity {velocity_error:.3e} m/s",
    ] + ([f"note:             {landing.message}"] if landing.message else [])
