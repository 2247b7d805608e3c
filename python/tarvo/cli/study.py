"""`tarvo monte-carlo`: a dispersion study from the command line.

    tarvo monte-carlo CONFIG.json --runs N [--seed S]
        --disperse PATH=normal:SIGMA --disperse PATH=uniform:LOW:HIGH ...
        [--workers K | --scheduler ADDRESS] [--out TABLE.parquet|.csv] [--plot STUDY.png]
        [--method continuous|nodes] [--accuracy default|high] [--closest]
        [--progress | --no-progress]
        [--thrust-error SIGMA ... --replan-every S | --open-loop]  (flies every run)

A parameter is a number or three comma-separated numbers, one per vector component
(``spacecraft.initial_position=normal:100,100,0``). CONFIG.json may be ``-`` for standard
input. Writes the study's files, then prints its summary; every failure is one line on stderr
(stdout when stderr is closed) and exit status 1.
"""

from __future__ import annotations

import argparse
import os
import sys

from .fly import add_flight_options, flight_options
from .io import Outputs, Parser, emit, fail, figure_bytes, image_format, read_config
from .io import require, run_command, stderr_failed
from .options import add_planning_options, planning_options
from ..study.dispersions import normal, uniform
from ..study.study import monte_carlo

PROG = "tarvo monte-carlo"
# How long to wait for a Dask scheduler named by --scheduler.
SCHEDULER_TIMEOUT = "10s"


def parse_arguments(argv):
    parser = Parser(prog=PROG, description=(
        "Plan many landings around a nominal configuration with dispersed inputs and "
        "summarise them."))
    parser.add_argument("config", metavar="CONFIG.json", help="nominal configuration ('-': stdin)")
    parser.add_argument("--runs", type=int, required=True, help="number of landings")
    parser.add_argument("--seed", type=int, default=0, help="seed of the draws (default 0)")
    parser.add_argument("--disperse", action="append", default=[], metavar="PATH=KIND:PARAMS",
                        help="PATH=normal:SIGMA or PATH=uniform:LOW:HIGH; once per field")
    parser.add_argument("--workers", type=int, help="planning threads in this process")
    parser.add_argument("--scheduler", metavar="ADDRESS",
                        help="plan on a running Dask scheduler (instead of --workers)")
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
        fail(f"--disperse {text!r}: {error}")


def parse_dispersions(texts):
    """{path: distribution} of the --disperse options; a path given twice is an error."""
    dispersions = {}
    for text in texts:
        path, distribution = parse_dispersion(text)
        if path in dispersions:
            fail(f"--disperse: {path} is dispersed twice; give each field once")
        dispersions[path] = distribution
    return dispersions


def claim_outputs(arguments, outputs):
    """Check --out and --plot before the study runs: suffix, libraries, destination; the
    image format of --plot."""
    if arguments.out is not None:
        suffix = os.path.splitext(arguments.out)[1].lower().lstrip(".")
        if suffix not in ("csv", "parquet"):
            fail(f"{arguments.out}: --out must end in .csv or .parquet")
        if suffix == "parquet":
            require("pyarrow.parquet", "--out .parquet")
        outputs.claim(arguments.out, "--out")
    if arguments.plot is None:
        return None
    image = image_format(arguments.plot)
    outputs.claim(arguments.plot, "--plot")
    return image


def connect(address):
    """A Dask client of the scheduler at ``address``."""
    try:
        from dask.distributed import Client
    except ImportError:
        fail("--scheduler needs Dask: pip install tarvo[dask]")
    try:
        return Client(address, timeout=SCHEDULER_TIMEOUT)
    except (OSError, TimeoutError, ValueError) as error:
        fail(f"--scheduler {address}: {error}")


class ProgressBar:
    """A tqdm bar on stderr, driven as ``plan_many``'s progress callable. It stops when
    stderr cannot take it (closed, a full disk), and the command says so at its end."""

    def __init__(self):
        self._bar = None
        self._stopped = False

    def __call__(self, done, total):
        self._safely(self._advance, done, total)

    def _advance(self, done, total):
        if self._bar is None:
            from tqdm import tqdm

            if sys.stderr is None:
                raise OSError("closed")
            self._bar = tqdm(total=total, unit="landing", desc="planning", file=sys.stderr)
        self._bar.update(done - self._bar.n)

    def close(self):
        if self._bar is not None:
            self._safely(self._bar.close)

    def _safely(self, action, *arguments):
        if self._stopped:
            return
        try:
            action(*arguments)
        except (OSError, ValueError) as error:
            self._stopped = True
            stderr_failed(error)
            if self._bar is not None:
                self._bar.disable = True  # nothing more to stderr, not even on closing


def progress_bar(arguments):
    """A ProgressBar, or None: --progress, or by default when stderr is a terminal."""
    wanted = arguments.progress
    if wanted is None:
        wanted = sys.stderr is not None and sys.stderr.isatty()
    if not wanted:
        return None
    require("tqdm", "--progress")
    return ProgressBar()


def run_study(config, dispersions, arguments, progress, flight):
    """The study; any failure of the arguments or of the planning ends the command.
    ``flight``: monte_carlo's errors and replan_every."""
    client = connect(arguments.scheduler) if arguments.scheduler else None
    try:
        executor = client.get_executor() if client is not None else None
        return monte_carlo(config, dispersions, arguments.runs, seed=arguments.seed,
                           workers=arguments.workers, executor=executor,
                           progress=False if progress is None else progress,
                           **planning_options(arguments), **flight)
    except (ValueError, TypeError, ImportError) as error:
        fail(str(error))
    except Exception as error:  # a worker or executor that failed: say what, not where
        fail(f"study failed: {type(error).__name__}: {error}")
    finally:
        if progress is not None:
            progress.close()
        if client is not None:
            client.close()


def run(argv):
    arguments = parse_arguments(argv)
    if arguments.workers is not None and arguments.workers < 1:
        fail(f"--workers must be at least 1, got {arguments.workers}")
    if arguments.workers is not None and arguments.scheduler is not None:
        fail("--workers and --scheduler exclude each other: the scheduler's workers plan")
    dispersions = parse_dispersions(arguments.disperse)
    try:
        errors, replan_every, flown = flight_options(arguments)
    except ValueError as error:
        fail(f"{PROG}: {error}")
    flight = {"errors": errors if flown else None, "replan_every": replan_every}
    outputs = Outputs()
    image = claim_outputs(arguments, outputs)
    config = read_config(arguments.config)
    study = run_study(config, dispersions, arguments, progress_bar(arguments), flight)
    outputs.write(arguments.out, study.save)
    outputs.write_bytes(arguments.plot, lambda: figure_bytes(study.plot(), image))
    status = outputs.report()
    emit(f"seed:               {arguments.seed}\n{study.summary()}")
    return status


def main(argv=None) -> int:
    """Run the command; the exit status (0, or 1 after a one-line message)."""
    return run_command(run, list(sys.argv[1:] if argv is None else argv))


if __name__ == "__main__":
    sys.exit(main())
