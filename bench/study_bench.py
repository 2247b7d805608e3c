"""What a Monte Carlo study costs beyond planning its landings.

    python bench/study_bench.py [--runs 500] [--nodes 50] [--repeats 3] [--workers K]

A study of --runs landings at --nodes nodes with a fixed time of flight and dispersed initial
state, mass and gravity. Times, as medians over --repeats: the study's own phases (drawing
the inputs and building the configurations, building the table, the summary), `plan_many`
on the same configurations, and `monte_carlo` end to end. The overhead ratio is the study's
phases over `plan_many` (target: at most 3 %). Each time is given as wall time and as this
process's CPU time (all its threads): on a machine shared with other work the CPU times are
the steadier figures. Not a test: numbers only.
"""

import argparse
import statistics
import time

import tarvo
from tarvo.study.dispersions import DispersionPlan
from tarvo.study.table import build_table, outcome_row
from tarvo.study.summary import summarise

TIME_OF_FLIGHT = 60.0
SEED = 2024
DISPERSIONS = {
    "spacecraft.initial_position": tarvo.normal([100.0, 100.0, 50.0]),
    "spacecraft.initial_velocity": tarvo.normal(2.0),
    "spacecraft.wet_mass": tarvo.uniform(-20.0, 20.0),
    "environment.gravity": tarvo.normal([0.0, 0.0, 0.01]),
}


def timed(action):
    """(wall seconds, CPU seconds of this process), and what the action returned."""
    wall, cpu = time.perf_counter(), time.process_time()
    result = action()
    return (time.perf_counter() - wall, time.process_time() - cpu), result


def sample_runs(plan, runs):
    """Every run's sampled inputs and configuration, as the study draws them."""
    inputs = [plan.draw(SEED, run) for run in range(runs)]
    return inputs, [plan.config(values) for values in inputs]


def one_round(config, runs, workers):
    """Seconds of each phase of one study, done step by step, and of monte_carlo as a whole."""
    seconds = {}
    seconds["sampling"], (plan, (inputs, configs)) = timed(lambda: (
        (plan := DispersionPlan(config, DISPERSIONS)), sample_runs(plan, runs)))
    seconds["plan_many"], landings = timed(lambda: tarvo.plan_many(configs, workers=workers))
    seconds["table"], table = timed(lambda: build_table(
        plan.columns(), inputs, [outcome_row(landing) for landing in landings]))
    seconds["summary"], summary = timed(lambda: summarise(table))
    seconds["monte_carlo"], _ = timed(lambda: tarvo.monte_carlo(
        config, DISPERSIONS, runs, seed=SEED, workers=workers))
    return seconds, summary


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=500)
    parser.add_argument("--nodes", type=int, default=50)
    parser.add_argument("--repeats", type=int, default=3)
    parser.add_argument("--workers", type=int, default=None)
    arguments = parser.parse_args()
    config = tarvo.Config(solver=tarvo.Solver(n=arguments.nodes, time_of_flight=TIME_OF_FLIGHT))
    one_round(config, 10, arguments.workers)  # warm-up: pandas and NumPy loaded
    rounds = []
    for _ in range(arguments.repeats):
        seconds, summary = one_round(config, arguments.runs, arguments.workers)
        rounds.append(seconds)
    print(f"study of {arguments.runs} runs, n = {arguments.nodes}, time of flight "
          f"{TIME_OF_FLIGHT} s, workers {arguments.workers or 'default'}, "
          f"median of {arguments.repeats}; successes {summary.successes} of {summary.runs}")
    print(f"  {'':<12s}  {'wall ms':>9s}  {'CPU ms':>9s}")
    median = {}
    for kind, clock in (("wall", 0), ("CPU", 1)):
        median[kind] = {phase: statistics.median(r[phase][clock] for r in rounds) for phase in rounds[0]}
    for phase in ("sampling", "table", "summary", "plan_many", "monte_carlo"):
        print(f"  {phase:<12s}  {median['wall'][phase] * 1e3:9.1f}  {median['CPU'][phase] * 1e3:9.1f}")
    for kind in ("wall", "CPU"):
        times = median[kind]
        own = times["sampling"] + times["table"] + times["summary"]
        print(f"  {kind:>4s}: study overhead / plan_many {own / times['plan_many'] * 100:5.2f} % "
              f"(target <= 3 %); monte_carlo end to end against plan_many "
              f"{(times['monte_carlo'] / times['plan_many'] - 1) * 100:+6.2f} %")


if __name__ == "__main__":
    main()
