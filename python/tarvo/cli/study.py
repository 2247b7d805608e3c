"""`tarvo monte-carlo`: a dispersion study from the command line.

    tarvo monte-carlo CONFIG.json --runs N [--seed S]
        --disperse PATH=normal:SIGMA --disperse PATH=uniform:LOW:HIGH ...
        [--workers K | --scheduler ADDRESS] [--out TABLE.parquet|.csv] [--plot STUDY.png]
        [--method continuous|nodes] [--accuracy default|high] [--closest]
        [--progress | --no-progress]
        [--thrust-error SIGMA ... --replan-every S | --open-loop]  (flies every run)

A parameter is a number or three comma-separated numbers, one per vector component
(``spacecraft.initial_position=normal:100,100,0``). CONFIG.json may be ``-`` for standard
input. Prints the study's summary; every failure is one line on stderr and exit status 1.
"""

from __future__ import annotations

import argparse
import os
import sys

from .fly import add_flight_options, flight_options
from .io import read_config, stdout_failed
from .options import add_planning_options, planning_options
from ..study.dispersions import normal, uniform
from ..study.study import monte_carlo

PROG = "tarvo monte-carlo"
# How long to wait for a Dask scheduler named by --scheduler.
SCHEDULER_TIMEOUT = "10s"


class Failure(Exception):
    """A reason to stop, reported as one line on stderr."""


class _Parser(argparse.ArgumentParser):
    def error(self, message):
        raise Failure(f"{self.prog}: {message}")


def parse_arguments(argv):
    parser = _Parser(prog=PROG, description=(
        "Plan many landings around a nominal configuration with dispersed inputs and "
        "summarise them."))
    parser.add_argument("config", metavar="CONFIG.json", help="nominal configuration ('-': stdin)")
    parser.add_argument("--runs", type=int, required=True, help="number of landings")
    parser.add_argument("--seed", type=int, default=0, help="seed of the draws (default 0)")
    parser.add_argument("--disperse", action="append", default=[], metavar="PATH=KIND:PARAMS",
                        help="PATH=normal:SIGMA or PATH=uniform:LOW:HIGH; repeat per field")
    parser.add_argument("--workers", type=int, help="planning threads in this process")
    parser.add_argument("--scheduler", metavar="ADDRESS", help="plan on a running Dask scheduler")
    parser.add_argument("--out", metavar="TABLE", help="write the table (.parquet or .csv)")
    parser.add_argument("--plot", metavar="STUDY.png", help="write the study's figure")
    add_planning_options(parser)
    parser.add_argument("--progress", action=argparse.BooleanOptionalAction, default=None,
                        help="progress bar on stderr (default: when stderr is a terminal)")
    add_flight_options(parser, "; any of them flies every run")
    return parser.parse_args(argv)


def _parameter(text: str):
    numbers = [float(part) for part in text.split(",")]
    return numbers[0] if len(numbers) == 1 else numbers


def parse_dispersion(text: str):
    """(path, distribution) from PATH=normal:SIGMA or PATH=uniform:LOW:HIGH."""
    path, equals, form = text.partition("=")
    kind, *parameters = form.split(":")
    forms = {"normal": (normal, 1), "uniform": (uniform, 2)}
    try:
        if not equals or kind not in forms or len(parameters) != forms[kind][1]:
            raise ValueError("expected PATH=normal:SIGMA or PATH=uniform:LOW:HIGH")
        distribution, _ = forms[kind]
        return path, distribution(*(_parameter(part) for part in parameters))
    except (ValueError, TypeError) as error:
        raise Failure(f"--disperse {text!r}: {error}") from None


def check_output(path, suffixes, what):
    """Refuse an output before the study runs: wrong suffix or a directory we cannot write."""
    if path is None:
        return
    suffix = os.path.splitext(path)[1].lower().lstrip(".")
    if suffix not in suffixes:
        allowed = ", ".join(f".{suffix}" for suffix in sorted(suffixes))
        raise Failure(f"{path}: {what} must end in one of {allowed}")
    directory = os.path.dirname(os.path.abspath(path))
    if not os.path.isdir(directory) or not os.access(directory, os.W_OK):
        raise Failure(f"{path}: cannot write to {directory}")


def plot_suffixes():
    try:
        from matplotlib.backend_bases import FigureCanvasBase
    except ImportError:
        raise Failure("--plot needs matplotlib: pip install tarvo[plot]") from None
    return set(FigureCanvasBase.get_supported_filetypes())


def connect(address):
    """A Dask client of the scheduler at ``address``."""
    try:
        from dask.distributed import Client
    except ImportError:
        raise Failure("--scheduler needs Dask: pip install tarvo[dask]") from None
    try:
        return Client(address, timeout=SCHEDULER_TIMEOUT)
    except (OSError, TimeoutError, ValueError) as error:
        raise Failure(f"--scheduler {address}: {error}") from None


def run(arguments):
    if arguments.workers is not None and arguments.workers < 1:
        raise Failure(f"--workers must be at least 1, got {arguments.workers}")
    dispersions = dict(parse_dispersion(text) for text in arguments.disperse)
    try:
        errors, replan_every, flown = flight_options(arguments)
    except ValueError as error:
        raise Failure(f"{PROG}: {error}") from None
    check_output(arguments.out, {"parquet", "csv"}, "--out")
    if arguments.plot is not None:
        check_output(arguments.plot, plot_suffixes(), "--plot")
    config = read_config(arguments.config)
    progress = sys.stderr.isatty() if arguments.progress is None else arguments.progress
    client = connect(arguments.scheduler) if arguments.scheduler else None
    try:
        executor = client.get_executor() if client is not None else None
        study = monte_carlo(config, dispersions, arguments.runs, seed=arguments.seed,
                            workers=None if client else arguments.workers,
                            executor=executor, progress=progress,
                            errors=errors if flown else None, replan_every=replan_every,
                            **planning_options(arguments))
    except (ValueError, TypeError, ImportError) as error:
        raise Failure(str(error)) from None
    except Exception as error:  # a worker or executor that failed: say what, not where
        raise Failure(f"study failed: {type(error).__name__}: {error}") from None
    finally:
        if client is not None:
            client.close()
    stdout_closed = print_summary(study, arguments.seed)
    write_outputs(study, arguments)
    if stdout_closed:
        raise Failure(f"{PROG}: standard output closed")


def print_summary(study, seed) -> bool:
    """Print the summary; whether standard output turned out to be closed."""
    try:
        print(f"seed:               {seed}")
        print(study.summary(), flush=True)
        return False
    except BrokenPipeError as error:
        stdout_failed(error)  # so that Python's final flush of stdout does not fail again
        return True


def write_outputs(study, arguments):
    for path, write in ((arguments.out, study.save), (arguments.plot, _save_figure(study))):
        if path is None:
            continue
        try:
            write(path)
        except (OSError, ValueError, ImportError) as error:
            reason = error.strerror if isinstance(error, OSError) and error.strerror else error
            raise Failure(f"{path}: {reason}") from None


def _save_figure(study):
    return lambda path: study.plot().savefig(path)


def main(argv=None) -> int:
    """Run the command; the exit status (0, or 1 after a one-line message on stderr)."""
    try:
        run(parse_arguments(sys.argv[1:] if argv is None else argv))
        return 0
    except SystemExit as leaving:  # --help
        return leaving.code if isinstance(leaving.code, int) else 0
    except Failure as failure:
        message = str(failure)
    except KeyboardInterrupt:
        print(f"{PROG}: interrupted", file=sys.stderr)
        return 130
    print(" ".join(message.split()), file=sys.stderr)
    return 1


if __name__ == "__main__":
    sys.exit(main())
