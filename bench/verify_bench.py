"""Cost of `Landing.verify` next to the solve it checks.

    python bench/verify_bench.py [--repeats R] [--nodes N]

Plans the default vehicle at a fixed 60 s (N = 100 unless told) and times `tarvo.plan` and
`landing.verify()` alternately, so that both see the same machine load; prints the medians
and their ratio (the verification is meant to stay under 5 % of a solve). Not a test.
"""

import argparse
import statistics
import time

import tarvo


def seconds(action):
    start = time.perf_counter()
    action()
    return time.perf_counter() - start


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeats", type=int, default=50)
    parser.add_argument("--nodes", type=int, default=100)
    args = parser.parse_args()
    config = tarvo.Config(solver=tarvo.Solver(n=args.nodes, time_of_flight=60.0))
    landing = tarvo.plan(config)
    landing.verify()  # warm-up
    plan_times, verify_times = [], []
    for _ in range(args.repeats):
        plan_times.append(seconds(lambda: tarvo.plan(config)))
        verify_times.append(seconds(landing.verify))
    plan_time, verify_time = statistics.median(plan_times), statistics.median(verify_times)
    print(f"N = {args.nodes}, 60 s, median of {args.repeats}")
    print(f"plan    {plan_time * 1e3:8.3f} ms")
    print(f"verify  {verify_time * 1e3:8.3f} ms")
    print(f"verify / plan = {verify_time / plan_time:.3%}")


if __name__ == "__main__":
    main()
