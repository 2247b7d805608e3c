import io
import subprocess
import sys
import textwrap

import pytest

import tarvo

# A landing the solver finds feasible: default vehicle, few nodes, fixed time of flight.
SMALL_N = 20
SMALL_TOF = 60.0
CONVERGED = ("Solved", "AlmostSolved")


def small_config(n=SMALL_N, tof=SMALL_TOF):
    return tarvo.Config(solver=tarvo.Solver(n=n, time_of_flight=tof))


def solve_outcome(config):
    """tarvo.solve's trajectory and None, or None and the text of the ValueError it raises."""
    try:
        return tarvo.solve(config), None
    except ValueError as error:
        return None, str(error)


def raised(call):
    """The exception call() raises, whatever its kind."""
    with pytest.raises(BaseException) as info:
        call()
    return info.value


def run_python(code, *args, flags=(), stdin=None, timeout=120):
    """Run code in a fresh interpreter; a crash shows as a negative return code."""
    return subprocess.run(
        [sys.executable, *flags, "-c", textwrap.dedent(code), *args],
        input=stdin, capture_output=True, text=True, timeout=timeout,
    )


@pytest.fixture
def run_inline(capsys, monkeypatch):
    """Run the `tarvo` command line in this process: (exit status, stdout, stderr)."""
    from tarvo.cli.main import main

    def run(*args, stdin=None):
        if stdin is not None:
            monkeypatch.setattr(sys, "stdin", io.TextIOWrapper(io.BytesIO(stdin)))
        try:
            status = main([str(arg) for arg in args])
        except SystemExit as leaving:
            status = leaving.code
        out, err = capsys.readouterr()
        return status, out, err
    return run
