"""Cost of the planning layer: `plan` against `solve`, `plan_many` against a serial loop.

    python bench/plan_bench.py [--repeats R] [--batch B] [--dask] [--memory LANDINGS]
                               [--search] [--methods] [--interrupts TRIES]

- plan / solve: one landing at N = 100 with a fixed time of flight (default vehicle, 60 s)
  by the nodes method, the program `solve` runs; the two are timed alternately and the
  medians compared.
- serial / plan_many: the same B configurations (N = 100, fixed times of flight) planned by a
  loop of `solve` and by `plan_many` (nodes method) on the local thread pool (one thread
  per core); the ratio is the speedup.
- with --dask: plan_many on a Dask LocalCluster (one single-threaded worker process per
  core) against the local thread pool, cluster start-up excluded.
- with --memory L: resident-memory growth over L landings planned in batches of 1,000 and
  dropped (N = 20), after a first batch.
- with --search: one search (default vehicle, N = 100) by `plan` (nodes method) on the
  machine's cores against `solve` (the rounds per thread count:
  build/bench/bench/tarvo_search_rounds).
- with --methods: the default searched landing planned by the default method against the
  nodes method, at N = 20, 100 and 400 (the target at N = 100: at most 1.5 times).
- with --interrupts T: Ctrl-C latency, the worst of T tries, each SIGINT sent at a random
  moment of an N = 2000 fixed solve.

Not a test: numbers only.
"""

import argparse
import gc
import os
import random
import signal
import statistics
import threading
import time

import tarvo
from tarvo.landing.engine import default_workers

NODES = 100
TIME_OF_FLIGHT = 60.0


def fixed_config(n=NODES, tof=TIME_OF_FLIGHT):
    return tarvo.Config(solver=tarvo.Solver(n=n, time_of_flight=tof))


def batch_configs(count):
    return [fixed_config(tof=50.0 + 30.0 * i / count) for i in range(count)]


def seconds(action):
    start = time.perf_counter()
    action()
    return time.perf_counter() - start


def alternate_medians(first, second, repeats):
    """Medians of the two actions, timed one after the other so that drift hits both."""
    first(), second()  # warm-up: NumPy's array API is loaded on first use
    times = [(seconds(first), seconds(second)) for _ in range(repeats)]
    return statistics.median(t for t, _ in times), statistics.median(t for _, t in times)


def plan_against_solve(repeats):
    config = fixed_config()
    solve_time, plan_time = alternate_medians(
        lambda: tarvo.solve(config), lambda: tarvo.plan(config, method="nodes"), repeats)
    print(f"plan / solve at N = {NODES}: {plan_time / solve_time:.3f} "
          f"(solve {solve_time * 1e3:.2f} ms, plan {plan_time * 1e3:.2f} ms)")


def threads_against_serial(batch, repeats):
    configs = batch_configs(batch)
    serial, threaded = alternate_medians(
        lambda: [tarvo.solve(config) for config in configs],
        lambda: tarvo.plan_many(configs, method="nodes"), max(1, repeats // 10))
    cores = default_workers()
    print(f"serial solve loop / plan_many on {cores} threads, {batch} landings: "
          f"{serial / threaded:.2f}x (target {0.9 * cores:.1f}x; serial {serial:.2f} s, "
          f"plan_many {threaded:.2f} s)")


def dask_against_threads(batch):
    import logging

    from dask.distributed import Client, LocalCluster

    configs = batch_configs(batch)
    cores = default_workers()
    with LocalCluster(n_workers=cores, threads_per_worker=1, processes=True,
                      dashboard_address=None, silence_logs=logging.ERROR) as cluster, \
            Client(cluster) as client:
        executor = client.get_executor()
        tarvo.plan_many(configs[:cores], executor=executor)  # warm the workers up
        on_dask = seconds(lambda: tarvo.plan_many(configs, executor=executor))
    local = seconds(lambda: tarvo.plan_many(configs))
    print(f"Dask LocalCluster ({cores} processes) / local thread pool, {batch} landings: "
          f"{on_dask / local:.2f} (Dask {on_dask:.2f} s, threads {local:.2f} s)")


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def memory_growth(landings):
    """Batches of 1,000 landings planned and dropped; the first batch sets the allocator's
    high-water mark, so the growth is measured from there."""
    configs = [fixed_config(n=20)] * 1000
    tarvo.plan_many(configs)
    gc.collect()
    before = resident_bytes()
    for start in range(0, landings, len(configs)):
        tarvo.plan_many(configs[:landings - start])
    gc.collect()
    growth = resident_bytes() - before
    print(f"resident memory growth over {landings} landings (N = 20): {growth / 1024:.0f} KiB")


def search_against_solve(repeats):
    config = tarvo.Config(solver=tarvo.Solver(n=NODES))
    solve_time, plan_time = alternate_medians(
        lambda: tarvo.solve(config), lambda: tarvo.plan(config, method="nodes"), repeats)
    cores = default_workers()
    print(f"one search at N = {NODES}, plan on {cores} threads / solve: "
          f"{plan_time / solve_time:.3f} (solve {solve_time:.2f} s, plan {plan_time:.2f} s; "
          f"bench/search_rounds.cpp gives the rounds the trials take per thread count)")


def continuous_against_nodes(repeats):
    for n in (20, NODES, 400):
        config = tarvo.Config(solver=tarvo.Solver(n=n))
        nodes, continuous = alternate_medians(lambda: tarvo.plan(config, method="nodes"),
                                              lambda: tarvo.plan(config), repeats)
        print(f"the default searched landing at N = {n}, continuous / nodes: "
              f"{continuous / nodes:.2f} (nodes {nodes:.3f} s, continuous {continuous:.3f} s)")


def interrupt_latency(tries):
    """Worst delay from SIGINT to KeyboardInterrupt over `tries` N = 2000 solves."""
    config = fixed_config(n=2000, tof=50.0)
    started = time.monotonic()
    tarvo.plan(config)
    solve_seconds = time.monotonic() - started
    latencies = []
    for _ in range(tries):
        sent = []

        def interrupt():
            sent.append(time.monotonic())
            os.kill(os.getpid(), signal.SIGINT)

        timer = threading.Timer(random.uniform(0.1, 0.6) * solve_seconds, interrupt)
        timer.start()
        try:
            try:
                tarvo.plan(config)
            except KeyboardInterrupt:
                latencies.append(time.monotonic() - sent[0])
            timer.join()
        except KeyboardInterrupt:  # the solve ended before the signal came
            timer.join()
    print(f"Ctrl-C latency over {len(latencies)} of {tries} tries (N = 2000 solve of "
          f"{solve_seconds:.2f} s): worst {max(latencies) * 1e3:.1f} ms, "
          f"median {statistics.median(latencies) * 1e3:.1f} ms")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeats", type=int, default=51, help="timed repeats (default 51)")
    parser.add_argument("--batch", type=int, default=32, help="landings per batch (default 32)")
    parser.add_argument("--dask", action="store_true", help="also time a Dask LocalCluster")
    parser.add_argument("--memory", type=int, metavar="LANDINGS", default=0,
                        help="also measure memory growth over this many landings")
    parser.add_argument("--search", action="store_true", help="also time one search")
    parser.add_argument("--methods", action="store_true",
                        help="also time the default method against the nodes method")
    parser.add_argument("--interrupts", type=int, metavar="TRIES", default=0,
                        help="also measure Ctrl-C latency over this many tries")
    arguments = parser.parse_args()
    plan_against_solve(arguments.repeats)
    threads_against_serial(arguments.batch, arguments.repeats)
    if arguments.dask:
        dask_against_threads(arguments.batch)
    if arguments.search:
        search_against_solve(max(1, arguments.repeats // 10))
    if arguments.methods:
        continuous_against_nodes(max(1, arguments.repeats // 10))
    if arguments.memory:
        memory_growth(arguments.memory)
    if arguments.interrupts:
        interrupt_latency(arguments.interrupts)


if __name__ == "__main__":
    main()
