"""Cost of the Python entry point next to the core's own solve.

    python bench/python_bench.py [--core-bench PATH] [--repeats R]

Times `solve` at N = 100 with a fixed time of flight (default vehicle, 60 s, the same problem
as the C++ benchmark's N = 100 row), a full time-of-flight search, and the resident-memory
growth over 1,000 solves with every array read. When the C++ benchmark program is found
(bench/run builds it) its N = 100 phases are summed and the Python time is printed as a ratio
of that core time. Not a test: numbers only.
"""

import argparse
import gc
import os
import statistics
import subprocess
import sys
import time
from pathlib import Path

import tarvo

NODES = 100
TIME_OF_FLIGHT = 60.0
ARRAYS = ("positions", "velocities", "u_values", "thrusts", "normalized_thrusts",
          "z_values", "s_values", "time_points")
DEFAULT_CORE_BENCH = Path(__file__).resolve().parent.parent / "build" / "bench" / "bench" / "tarvo_core_bench"


def fixed_config(n=NODES):
    return tarvo.Config(solver=tarvo.Solver(n=n, time_of_flight=TIME_OF_FLIGHT))


def median_seconds(action, repeats):
    action()  # warm-up: NumPy's array API is loaded on first use
    samples = []
    for _ in range(repeats):
        start = time.perf_counter()
        action()
        samples.append(time.perf_counter() - start)
    return statistics.median(samples)


def read_everything(config):
    trajectory = tarvo.solve(config)
    return [getattr(trajectory, name) for name in ARRAYS]


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def memory_growth(config, solves):
    for _ in range(50):
        read_everything(config)
    gc.collect()
    before = resident_bytes()
    for _ in range(solves):
        read_everything(config)
    gc.collect()
    return resident_bytes() - before


def core_milliseconds(program):
    """Sum of the median phases of the C++ benchmark at N = 100 (run now), or None."""
    output = subprocess.run([str(program), str(NODES)], capture_output=True, text=True,
                            check=True).stdout
    for line in output.splitlines():
        fields = line.split()
        if fields and fields[0] == str(NODES):
            assemble, copy_in, clarabel, extract = map(float, fields[2:6])
            return assemble + copy_in + clarabel + extract
    return None


def python_against_core(config, program, rounds, repeats):
    """Alternates the core benchmark and Python solves, so that both see the same machine load
    (shared machines drift by tens of percent within minutes); returns per-round pairs in ms."""
    pairs = []
    for _ in range(rounds):
        core = core_milliseconds(program)
        python = median_seconds(lambda: tarvo.solve(config), repeats) * 1e3
        if core is not None:
            pairs.append((python, core))
    return pairs


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--core-bench", type=Path, default=DEFAULT_CORE_BENCH,
                        help="the C++ benchmark program (default: %(default)s)")
    parser.add_argument("--repeats", type=int, default=30, help="timed solves at N = 100")
    parser.add_argument("--memory-solves", type=int, default=1000)
    arguments = parser.parse_args()

    config = fixed_config()
    has_core = arguments.core_bench is not None and arguments.core_bench.is_file()
    pairs = python_against_core(config, arguments.core_bench, 5, arguments.repeats) if has_core else []
    solve_only = median_seconds(lambda: tarvo.solve(config), arguments.repeats) * 1e3
    with_arrays = median_seconds(lambda: read_everything(config), arguments.repeats) * 1e3
    search_config = tarvo.Config(solver=tarvo.Solver(n=NODES))
    search = median_seconds(lambda: tarvo.solve(search_config), 3) * 1e3
    growth = memory_growth(fixed_config(n=20), arguments.memory_solves)

    print(f"N = {NODES}, fixed time of flight {TIME_OF_FLIGHT} s, median of {arguments.repeats}")
    print(f"  python solve                    {solve_only:10.3f} ms")
    print(f"  python solve + 8 array reads    {with_arrays:10.3f} ms"
          f"   (arrays add {with_arrays / solve_only - 1.0:+.2%})")
    if not pairs:
        print(f"  core solve                      not measured: no program at {arguments.core_bench}")
    for python, core in pairs:
        print(f"  alternating round: python {python:8.3f} ms, core {core:8.3f} ms,"
              f" ratio {python / core:6.3f}")
    if pairs:
        ratio = statistics.median(python / core for python, core in pairs)
        print(f"  median ratio python / core      {ratio:10.3f}")
    print(f"time-of-flight search, N = {NODES}  {search:10.3f} ms"
          f"   ({search / solve_only:.1f} times one fixed solve; a search runs 36)")
    print(f"resident growth over {arguments.memory_solves} solves (N = 20, arrays read): "
          f"{growth / 1024:.0f} KiB")
    return 0


if __name__ == "__main__":
    sys.exit(main())
