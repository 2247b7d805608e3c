"""Cost of a landing's verification next to the plan that makes it.

    python bench/verify_bench.py [--repeats R] [--nodes N] [--search]

Plans the default vehicle (at a fixed 60 s, or searched with --search; N = 100 unless told)
with each method and times `tarvo.plan` and the verification alone (`verify_landing`, which
every plan runs once for its `Landing.verification`) alternately, so that both see the same
machine load; prints the medians and their ratio (a few per cent of a fixed-time plan, less
of a search). Not a test.
"""

import argparse
import statistics
import time

import tarvo
from tarvo.landing.verify import verify_landing


def seconds(action):
    start = time.perf_counter()
    action()
    return time.perf_counter() - start


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeats", type=int, default=30)
    parser.add_argument("--nodes", type=int, default=100)
    parser.add_argument("--search", action="store_true", help="search the time of flight")
    args = parser.parse_args()
    tof = None if args.search else 60.0
    config = tarvo.Config(solver=tarvo.Solver(n=args.nodes, time_of_flight=tof))
    print(f"N = {args.nodes}, {'searched' if args.search else '60 s'}, median of {args.repeats}")
    for method in ("continuous", "nodes"):
        landing = tarvo.plan(config, method=method)
        verify_landing(landing)  # warm-up
        plan_times, verify_times = [], []
        for _ in range(args.repeats):
            plan_times.append(seconds(lambda: tarvo.plan(config, method=method)))
            verify_times.append(seconds(lambda: verify_landing(landing)))
        plan_time, verify_time = statistics.median(plan_times), statistics.median(verify_times)
        print(f"{method:10}  plan {plan_time * 1e3:9.3f} ms  verify {verify_time * 1e3:7.3f} ms"
              f"  verify / plan = {verify_time / plan_time:.2%}")


if __name__ == "__main__":
    main()
