"""Bad input must end in a Python exception or a result, never in a signal.

Every dangerous case runs in a fresh interpreter so that a crash fails one test
instead of taking the test run down."""

import gc
import math
import os
import subprocess
import sys
import textwrap

import pytest

from conftest import run_python, small_config
from tarvo import PyTrajectory, solve

# Runs `build(tarvo)` to get a Config, solves it and prints the outcome's kind.
SOLVE_CASE = """
import math, sys, tarvo
from tarvo import Config, Environment, Solver, Spacecraft
inf, nan = math.inf, math.nan
config = {build}
try:
    result = tarvo.solve(config)
    result.positions, result.thrusts, result.status
    print("ok")
except Exception as error:
    print(type(error).__name__, error, sep=": ")
"""

SMALL = "Solver(n=6, time_of_flight=40.0)"
SEARCH = "Solver(n=4)"

SOLVE_CASES = {
    "n = 2**63": "Config(solver=Solver(n=2**63, time_of_flight=50.0))",
    "n = 2**64 - 1": "Config(solver=Solver(n=2**64 - 1, time_of_flight=50.0))",
    "n = 2**62 + 1": "Config(solver=Solver(n=2**62 + 1, time_of_flight=50.0))",
    "n = 2**60 search": "Config(solver=Solver(n=2**60))",
    "n = 0 fixed": "Config(solver=Solver(n=0, time_of_flight=50.0))",
    "n = 0 search": "Config(solver=Solver(n=0))",
    "n = 1": "Config(solver=Solver(n=1, time_of_flight=50.0))",
    "n = 1 search": "Config(solver=Solver(n=1))",
    "tof nan": "Config(solver=Solver(n=6, time_of_flight=nan))",
    "tof inf": "Config(solver=Solver(n=6, time_of_flight=inf))",
    "tof -inf": "Config(solver=Solver(n=6, time_of_flight=-inf))",
    "tof zero": "Config(solver=Solver(n=6, time_of_flight=0.0))",
    "tof negative": "Config(solver=Solver(n=6, time_of_flight=-30.0))",
    "tof huge": "Config(solver=Solver(n=6, time_of_flight=1e300))",
    "tof past burnout": "Config(solver=Solver(n=6, time_of_flight=1e6))",
    "tof tiny": "Config(solver=Solver(n=6, time_of_flight=5e-324))",
    "bounds nan": "Config(solver=Solver(n=4, tof_min=nan, tof_max=nan))",
    "bounds inf": "Config(solver=Solver(n=4, tof_min=-inf, tof_max=inf))",
    "bounds reversed": "Config(solver=Solver(n=4, tof_min=90.0, tof_max=30.0))",
    "bounds equal": "Config(solver=Solver(n=4, tof_min=50.0, tof_max=50.0))",
    "bounds huge": "Config(solver=Solver(n=4, tof_min=1e300, tof_max=1.7e308))",
    "wet_mass nan": f"Config(Spacecraft(wet_mass=nan), solver={SMALL})",
    "wet_mass zero": f"Config(Spacecraft(wet_mass=0.0), solver={SMALL})",
    "wet_mass below fuel": f"Config(Spacecraft(wet_mass=100.0), solver={SMALL})",
    "fuel inf": f"Config(Spacecraft(fuel=inf), solver={SMALL})",
    "thrust -inf": f"Config(Spacecraft(real_max_thrust=-inf), solver={SMALL})",
    "thrust zero search": f"Config(Spacecraft(real_max_thrust=0.0), solver={SEARCH})",
    "min thrust zero": f"Config(Spacecraft(min_thrust_pct=0.0), solver={SMALL})",
    "max thrust nan": f"Config(Spacecraft(max_thrust_pct=nan), solver={SMALL})",
    "max velocity inf": f"Config(Spacecraft(max_velocity=inf), solver={SMALL})",
    "fuel consumption nan search": f"Config(Spacecraft(fuel_consumption=nan), solver={SEARCH})",
    "fuel consumption zero search": f"Config(Spacecraft(fuel_consumption=0.0), solver={SEARCH})",
    "position nan": f"Config(Spacecraft(initial_position=[nan, 0, 100]), solver={SMALL})",
    "velocity inf search": f"Config(Spacecraft(initial_velocity=[inf, 0, 0]), solver={SEARCH})",
    "target inf": f"Config(Spacecraft(target_position=[0, 0, -inf]), solver={SMALL})",
    "gravity nan": f"Config(environment=Environment(gravity=[0, 0, nan]), solver={SMALL})",
    "gravity huge": f"Config(environment=Environment(gravity=[1e308, 0, -1e308]), solver={SMALL})",
    "glide slope inf": f"Config(environment=Environment(glide_slope_angle_deg=inf), solver={SMALL})",
    "glide slope nan": f"Config(environment=Environment(glide_slope_angle_deg=nan), solver={SMALL})",
    "glide slope 180": f"Config(environment=Environment(glide_slope_angle_deg=180.0), solver={SMALL})",
    "max angle nan": f"Config(environment=Environment(max_angle_deg=nan), solver={SMALL})",
    "everything nan": f"Config(Spacecraft(*[nan] * 6, *[[nan] * 3] * 4, nan),"
                      f" Environment([nan] * 3, nan, nan), Solver(4, nan, nan, nan))",
}


class TestBadInputIsContained:
    @pytest.mark.parametrize("case", list(SOLVE_CASES))
    def test_solve_ends_cleanly(self, case):
        run = run_python(SOLVE_CASE.format(build=SOLVE_CASES[case]))
        assert run.returncode == 0, f"{case}: exit {run.returncode}\n{run.stderr[-2000:]}"
        outcome = run.stdout.strip()
        kind = outcome.split(":", 1)[0]
        allowed = ("ok", "ValueError", "MemoryError", "OverflowError")
        assert kind in allowed, f"{case}: {outcome}"
        assert run.stderr == "", f"{case}: {run.stderr[-2000:]}"

    @pytest.mark.parametrize("text", [
        '{"skip": ' + "[" * 200_000 + "]" * 200_000 + ', "solver": {"n": 4}}',
        '{"skip": ' + '{"a": ' * 100_000 + "1" + "}" * 100_000 + ', "solver": {"n": 4}}',
        '{"skip": ' + "[" * 200_000,
        "[" * 200_000,
        '{"environment": {"gravity": ' + "[" * 100_000 + "]" * 100_000 + "}}",
    ])
    def test_deep_json_nesting(self, text):
        code = """
            import sys, tarvo
            text = sys.stdin.read()
            try:
                print(tarvo.Config.from_json(text).solver.n)
            except ValueError as error:
                print("ValueError:", error)
        """
        run = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], input=text,
                             capture_output=True, text=True, timeout=120)
        assert run.returncode == 0, run.stderr[-2000:]
        assert run.stdout.strip() in ("4",) or run.stdout.startswith("ValueError: ")
        if text.endswith(', "solver": {"n": 4}}'):
            assert run.stdout.strip() == "4"

    def test_huge_inputs_to_the_classes(self):
        run = run_python("""
            import math, tarvo
            s = tarvo.Solver(n=2**64 - 1, time_of_flight=1e308)
            c = tarvo.Config(solver=s)
            assert tarvo.Config.from_json(c.to_json()).solver.n == 2**64 - 1
            text = '{"a": "' + "x" * 5_000_000 + '", "solver": [7]}'
            assert tarvo.Config.from_json(text).solver.n == 7
            print("done")
        """)
        assert run.returncode == 0 and run.stdout.strip() == "done", run.stderr[-2000:]


def under_address_sanitizer():
    with open("/proc/self/maps") as maps:
        return "libasan" in maps.read()


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def solve_and_read(config):
    result = solve(config)
    total = 0.0
    for name in ("positions", "velocities", "u_values", "thrusts", "normalized_thrusts",
                 "z_values", "s_values", "time_points"):
        total += float(getattr(result, name).sum())
    return total + result.final_mass + result.objective + len(result.status)


@pytest.mark.skipif(not os.path.exists("/proc/self/statm"), reason="needs /proc")
class TestNoLeaks:
    def test_repeated_solves_keep_memory_flat(self):
        config = small_config(n=10, tof=60.0)
        infeasible = small_config(n=10, tof=0.5)
        for _ in range(200):
            solve_and_read(config)
        gc.collect()
        trajectory_refs = sys.getrefcount(PyTrajectory)
        config_refs = sys.getrefcount(config)
        start = resident_bytes()
        for i in range(2000):
            solve_and_read(config)
            if i % 20 == 0:
                with pytest.raises(ValueError):
                    solve(infeasible)
        gc.collect()
        growth = resident_bytes() - start
        assert sys.getrefcount(PyTrajectory) == trajectory_refs
        assert sys.getrefcount(config) == config_refs
        # One leaked trajectory or one leaked array per solve would be megabytes here. The
        # AddressSanitizer allocator keeps freed memory in quarantine, so its RSS says nothing.
        if not under_address_sanitizer():
            assert growth < 1024 * 1024, f"resident set grew by {growth} bytes"

    def test_array_owner_is_released_with_the_array(self):
        array = solve(small_config()).thrusts
        owner_type = type(array.base)
        gc.collect()
        refs = sys.getrefcount(owner_type)
        for _ in range(300):
            solve(small_config(n=10)).positions.sum()
        gc.collect()
        assert sys.getrefcount(owner_type) == refs
        assert math.isfinite(array.sum())
