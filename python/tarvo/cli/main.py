"""The tarvo command line: plan one landing, print its summary, write its plot and tables.

    tarvo [CONFIG.json | -] [--method continuous|nodes] [--accuracy default|high] [--closest]
          [--plot FILE.png] [--csv FILE] [--result FILE.json] [--progress] [--verify]
    tarvo --print-default-config
    tarvo --version
    tarvo monte-carlo ...          a dispersion study (tarvo.cli.study)
    tarvo fly ...                  a flight with closed-loop guidance (tarvo.cli.fly)

`python -m tarvo` is the same program. Every failure is one line on stderr and exit status 1.
"""

from __future__ import annotations

import argparse
import math
import sys

from .io import (
    OutputFailed, check_writable, emit, fail, figure_bytes, image_format, read_config,
    report, require_pandas, stdout_failed, write_bytes,
)
from .options import add_planning_options, planning_options
from ..landing.landing import peak_thrust, touchdown_errors


def main(argv=None):
    """Run the command line on argv (default: sys.argv[1:]) and return the exit status.

    Standard output is flushed here, so that a closed pipe or a full disk is reported as
    one line with status 1 instead of a traceback at interpreter exit."""
    argv = list(sys.argv[1:] if argv is None else argv)
    try:
        status = _dispatch(argv)
    except SystemExit as leaving:  # a failure already reported, or argparse's help and errors
        status = leaving.code
    except OutputFailed as error:
        report(error)
        return 1
    except BrokenPipeError as error:  # a print of the study command, or argparse's help
        report(stdout_failed(error))
        return 1
    except KeyboardInterrupt:
        report("interrupted")
        return 130
    try:
        if sys.stdout is not None:
            sys.stdout.flush()
    except OSError as error:
        report(stdout_failed(error))
        return 1
    return status


def _dispatch(argv):
    if argv[:1] == ["fly"]:
        from .fly import main as fly_main

        return fly_main(argv[1:])
    if argv[:1] == ["monte-carlo"]:
        import importlib

        try:
            study_cli = importlib.import_module("tarvo.cli.study")
        except ModuleNotFoundError as error:
            if error.name != "tarvo.cli.study":
                raise
            fail("monte-carlo: the dispersion study is not part of this installation")
        return study_cli.main(argv[1:])
    return run(argv)


def parse_arguments(argv):
    parser = argparse.ArgumentParser(
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
    outputs = requested_outputs(arguments)
    config = read_config(arguments.config)
    landing = plan_landing(config, arguments.progress, planning_options(arguments))
    if landing.verification is None:
        fail(f"solve failed: {landing.message}")
    emit("\n".join(summary_lines(landing)))
    for output in outputs:
        write_output(landing, *output)
    if arguments.verify:
        emit(str(landing.verification))
        return 0 if landing.ok and landing.verification.ok else 1
    return 0 if landing.ok else 1


def requested_outputs(arguments):
    """(path, kind, image format) of every requested output file, checked before any work is done:
    the image format and the libraries it needs, and that the path can be a file."""
    outputs = []
    if arguments.plot is not None:
        outputs.append((arguments.plot, "plot", image_format(arguments.plot)))
    if arguments.csv is not None:
        require_pandas()
        outputs.append((arguments.csv, "csv", None))
    if arguments.result is not None:
        outputs.append((arguments.result, "json", None))
    for path, _, _ in outputs:
        check_writable(path)
    return outputs


def write_output(landing, path, kind, image):
    from ..landing.tables import landing_bytes

    if kind == "plot":
        data = figure_bytes(landing.plot(), image)
    else:
        data = landing_bytes(landing, "." + kind)
    write_bytes(path, data)


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
        report(trial_line(reported, *trial))

    return plan(config, progress=on_trial, **options)


def trial_line(number, time_of_flight, status, final_mass):
    mass = f", final mass {final_mass:.3f} kg" if math.isfinite(final_mass) else ""
    return f"trial {number}: time of flight {time_of_flight:.3f} s, {status}{mass}"


def share_of(thrust, scale):
    return f" ({thrust / scale * 100.0:.1f} % of real_max_thrust)" if scale else ""


def summary_lines(landing):
    """The eight-line summary of a landing that was found, and a note when an option
    changed it (the closest landing) or why it is not ok (a failed verification)."""
    config = landing.config
    spacecraft = config.spacecraft
    how = "searched" if config.solver.time_of_flight is None else "fixed"
    tof = landing.time_of_flight
    tof_text = f"{tof:.3f} s" if math.isfinite(tof) else "unknown (single node)"
    peak = peak_thrust(landing)
    position_error, velocity_error = touchdown_errors(landing)
    return [
        f"status:           {landing.status}",
        f"method:           {landing.method}",
        f"nodes:            {len(landing.time_points)}",
        f"time of flight:   {tof_text} ({how})",
        f"final mass:       {landing.final_mass:.3f} kg",
        f"fuel used:        {landing.fuel_used:.3f} kg of {spacecraft.fuel:.3f} kg",
        f"peak thrust:      {peak:.3f} N{share_of(peak, spacecraft.real_max_thrust)}",
        f"touchdown error:  position {position_error:.3e} m, velocity {velocity_error:.3e} m/s",
    ] + ([f"note:             {landing.message}"] if landing.message else [])
