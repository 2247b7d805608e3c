"""Bad input must end in a Python exception or a result, never in a signal. The cases run in a
fresh interpreter so that a crash fails a test instead of taking the run down."""

import gc
import json
import os
import sys

import pytest

from conftest import run_python, small_config
from landing_checks import NODE_ARRAYS
from tarvo import PyTrajectory, solve

# Evaluates each expression of the JSON list on stdin, touching a trajectory's arrays, and
# prints one line per case as it ends: a crash shows which case was running.
CASES_SCRIPT = """
import json, math, sys, tarvo
from tarvo import Config, Environment, Solver, Spacecraft, solve
inf, nan = math.inf, math.nan
for name, expression in json.load(sys.stdin):
    try:
        result = eval(expression)
        if isinstance(result, tarvo.PyTrajectory):
            result.positions, result.thrusts, result.status
            result = "ok"
        print(name, result, sep=": ", flush=True)
    except Exception as error:
        print(name, type(error).__name__, sep=": ", flush=True)
"""

FIXED, SEARCH = "Solver(n=6, time_of_flight=40.0)", "Solver(n=4)"
SOLVED = ("ok", "ValueError", "MemoryError", "OverflowError")  # the outcomes a solve may have
CASES = {name: (f"solve({config})", SOLVED) for name, config in {
    "n = 2**64 - 1": "Config(solver=Solver(n=2**64 - 1, time_of_flight=50.0))",
    "n = 1 search": "Config(solver=Solver(n=1))",
    "tof nan": "Config(solver=Solver(n=6, time_of_flight=nan))",
    "tof -inf": "Config(solver=Solver(n=6, time_of_flight=-inf))",
    "tof huge": "Config(solver=Solver(n=6, time_of_flight=1e300))",
    "bounds huge": "Config(solver=Solver(n=4, tof_min=1e300, tof_max=1.7e308))",
    "thrust zero search": f"Config(Spacecraft(real_max_thrust=0.0), solver={SEARCH})",
    "fuel consumption nan search": f"Config(Spacecraft(fuel_consumption=nan), solver={SEARCH})",
    "position nan": f"Config(Spacecraft(initial_position=[nan, 0, 100]), solver={FIXED})",
    "velocity inf search": f"Config(Spacecraft(initial_velocity=[inf, 0, 0]), solver={SEARCH})",
    "gravity huge": f"Config(environment=Environment(gravity=[1e308, 0, -1e308]), solver={FIXED})",
    "glide slope nan": f"Config(environment=Environment(glide_slope_angle_deg=nan), solver={FIXED})",
    "everything nan": "Config(Spacecraft(*[nan] * 6, *[[nan] * 3] * 4, nan),"
                      " Environment([nan] * 3, nan, nan), Solver(4, nan, nan, nan))",
}.items()}
# Deep nesting is the core's to pin (its reader skips without recursion); here, large text
# through the str argument.
CASES["long string"] = ("""Config.from_json('{"a": "' + 'x' * 5_000_000 + '", "solver": [7]}')"""
                        ".solver.n", ("7",))
CASES["unterminated"] = ("Config.from_json('[' * 200_000)", ("ValueError",))


def test_bad_input_ends_in_an_exception_or_a_result():
    run = run_python(CASES_SCRIPT, stdin=json.dumps([(name, case[0]) for name, case in CASES.items()]))
    assert run.returncode == 0 and run.stderr == "", f"exit {run.returncode}\n{run.stderr[-2000:]}"
    outcomes = dict(line.split(": ", 1) for line in run.stdout.splitlines())
    assert list(outcomes) == list(CASES)
    for name, (_, expected) in CASES.items():
        assert outcomes[name] in expected, name


def under_address_sanitizer():
    with open("/proc/self/maps") as maps:
        return "libasan" in maps.read()


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def solve_and_read(config):
    result = solve(config)
    for name in NODE_ARRAYS:
        getattr(result, name).sum()
    return result


@pytest.mark.skipif(not os.path.exists("/proc/self/statm"), reason="needs /proc")
def test_repeated_solves_keep_memory_and_references_flat():
    config, infeasible = small_config(n=10), small_config(n=10, tof=0.5)
    kept = solve_and_read(config).thrusts
    watched = (PyTrajectory, type(kept.base), config)
    for _ in range(200):
        solve_and_read(config)
    gc.collect()
    counts, start = [sys.getrefcount(x) for x in watched], resident_bytes()
    for i in range(2000):
        solve_and_read(config)
        if i % 20 == 0:
            with pytest.raises(ValueError):
                solve(infeasible)
    gc.collect()
    growth = resident_bytes() - start
    assert [sys.getrefcount(x) for x in watched] == counts
    # One leaked trajectory or array per solve would be megabytes here. The AddressSanitizer
    # allocator keeps freed memory in quarantine, so its resident set says nothing.
    if not under_address_sanitizer():
        assert growth < 1024 * 1024, f"resident set grew by {growth} bytes"
