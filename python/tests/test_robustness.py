"""Bad input must end in a Python exception or a result, never in a signal. Each case runs in
a fresh interpreter so that a crash fails one test instead of taking the run down."""

import gc
import os
import sys

import pytest

from conftest import run_python, small_config
from landing_checks import NODE_ARRAYS
from tarvo import PyTrajectory, solve

# Builds a Config from the expression in argv[1], solves it and prints the outcome's kind.
SOLVE_CASE = """
import math, sys, tarvo
from tarvo import Config, Environment, Solver, Spacecraft
inf, nan = math.inf, math.nan
try:
    result = tarvo.solve(eval(sys.argv[1]))
    result.positions, result.thrusts, result.status
    print("ok")
except Exception as error:
    print(type(error).__name__, error, sep=": ")
"""

FIXED = "Solver(n=6, time_of_flight=40.0)"
SEARCH = "Solver(n=4)"

SOLVE_CASES = {
    "n = 2**64 - 1": "Config(solver=Solver(n=2**64 - 1, time_of_flight=50.0))",
    "n = 2**60 search": "Config(solver=Solver(n=2**60))",
    "n = 1 search": "Config(solver=Solver(n=1))",
    "tof nan": "Config(solver=Solver(n=6, time_of_flight=nan))",
    "tof -inf": "Config(solver=Solver(n=6, time_of_flight=-inf))",
    "tof huge": "Config(solver=Solver(n=6, time_of_flight=1e300))",
    "bounds nan": "Config(solver=Solver(n=4, tof_min=nan, tof_max=nan))",
    "bounds huge": "Config(solver=Solver(n=4, tof_min=1e300, tof_max=1.7e308))",
    "thrust zero search": f"Config(Spacecraft(real_max_thrust=0.0), solver={SEARCH})",
    "fuel consumption nan search": f"Config(Spacecraft(fuel_consumption=nan), solver={SEARCH})",
    "position nan": f"Config(Spacecraft(initial_position=[nan, 0, 100]), solver={FIXED})",
    "velocity inf search": f"Config(Spacecraft(initial_velocity=[inf, 0, 0]), solver={SEARCH})",
    "gravity huge": f"Config(environment=Environment(gravity=[1e308, 0, -1e308]), solver={FIXED})",
    "glide slope nan": f"Config(environment=Environment(glide_slope_angle_deg=nan), solver={FIXED})",
    "everything nan": "Config(Spacecraft(*[nan] * 6, *[[nan] * 3] * 4, nan),"
                      " Environment([nan] * 3, nan, nan), Solver(4, nan, nan, nan))",
}


class TestBadInputIsContained:
    @pytest.mark.parametrize("case", list(SOLVE_CASES))
    def test_solve_ends_cleanly(self, case):
        run = run_python(SOLVE_CASE, SOLVE_CASES[case])
        assert run.returncode == 0, f"exit {run.returncode}\n{run.stderr[-2000:]}"
        assert run.stderr == ""
        outcome = run.stdout.strip()
        assert outcome.split(":", 1)[0] in ("ok", "ValueError", "MemoryError", "OverflowError"), outcome

    # Deep nesting is the core's to pin (its reader skips without recursion); here, large text
    # through the str argument.
    @pytest.mark.parametrize("text, expected", [
        ('{"a": "' + "x" * 5_000_000 + '", "solver": [7]}', "7"),
        ("[" * 200_000, None),
    ], ids=["long string", "unterminated"])
    def test_large_documents(self, text, expected):
        run = run_python("""
            import sys, tarvo
            try:
                print(tarvo.Config.from_json(sys.stdin.read()).solver.n)
            except ValueError as error:
                print("ValueError:", error)
        """, stdin=text)
        assert run.returncode == 0, run.stderr[-2000:]
        if expected is None:
            assert run.stdout.startswith("ValueError: ")
        else:
            assert run.stdout.strip() == expected


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
    for _ in range(200):
        solve_and_read(config)
    gc.collect()
    counts = [sys.getrefcount(x) for x in (PyTrajectory, type(kept.base), config)]
    start = resident_bytes()
    for i in range(2000):
        solve_and_read(config)
        if i % 20 == 0:
            with pytest.raises(ValueError):
                solve(infeasible)
    gc.collect()
    growth = resident_bytes() - start
    assert [sys.getrefcount(x) for x in (PyTrajectory, type(kept.base), config)] == counts
    # One leaked trajectory or array per solve would be megabytes here. The AddressSanitizer
    # allocator keeps freed memory in quarantine, so its resident set says nothing.
    if not under_address_sanitizer():
        assert growth < 1024 * 1024, f"resident set grew by {growth} bytes"
