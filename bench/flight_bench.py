"""Cost of flying: a closed-loop flight against the one searched plan it starts from.

    python bench/flight_bench.py [--repeats R]

- flight / plan: the default landing (N = 100, searched time of flight) planned by `plan`, and
  flown by `fly` re-planning every second, without errors and with the errors of a real
  vehicle (1 % thrust bias, 0.5 deg misalignment, 0.02 m/s^2 disturbance, 0.5 m and 0.05 m/s
  knowledge errors); the two are timed alternately and the medians compared (target: the
  flight within 3x the plan).
- guidance time: the median and worst wall time of the flight's re-plans (N <= 100 nodes,
  fewer as the time to go shrinks), and the median of the re-plans with more than 50 nodes.

Not a test: numbers only.
"""

import argparse
import statistics
import time

import tarvo

REAL = tarvo.FlightErrors(thrust_magnitude=0.01, thrust_pointing_deg=0.5, acceleration=0.02,
                          position_knowledge=0.5, velocity_knowledge=0.05)


def timed(action):
    start = time.perf_counter()
    result = action()
    return time.perf_counter() - start, result


def flight_against_plan(errors, label, repeats):
    config = tarvo.Config()
    tarvo.plan(config)  # warm-up
    plans, flights, replans = [], [], []
    for seed in range(repeats):
        plans.append(timed(lambda: tarvo.plan(config))[0])
        seconds, flight = timed(lambda: tarvo.fly(config, errors=errors, seed=seed))
        flights.append(seconds)
        replans.append(flight)
    plan_time, flight_time = statistics.median(plans), statistics.median(flights)
    guidance = [replan.solve_seconds for flight in replans for replan in flight.replans]
    large = [replan.solve_seconds for flight in replans for replan in flight.replans
             if replan.nodes > 50]
    nodes = max(replan.nodes for flight in replans for replan in flight.replans)
    print(f"flight / searched plan, {label}: {flight_time / plan_time:.2f} (target <= 3; plan "
          f"{plan_time:.3f} s, flight {flight_time:.3f} s, {len(replans[0].replans)} re-plans)")
    print(f"  guidance time over {len(guidance)} re-plans (N <= {nodes}): median "
          f"{statistics.median(guidance) * 1e3:.1f} ms, worst {max(guidance) * 1e3:.1f} ms; "
          f"median at N > 50: {statistics.median(large) * 1e3:.1f} ms")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--repeats", type=int, default=5)
    arguments = parser.parse_args()
    flight_against_plan(None, "no errors", arguments.repeats)
    flight_against_plan(REAL, "errors of a real vehicle", arguments.repeats)


if __name__ == "__main__":
    main()
