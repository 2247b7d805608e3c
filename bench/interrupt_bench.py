"""How long Ctrl-C takes to come back, at any problem size and in any phase of the work.

    python bench/interrupt_bench.py [--nodes 1000 10000 100000] [--executor-chunks 16]

- plan: for each node count, one fixed solve is timed, then SIGINT is sent at several
  moments of it (from 2 % to 80 % of its time: the assembly, the solver's setup, which
  cannot be interrupted, and its iterations); the delay to KeyboardInterrupt is printed for
  each, with the time the interrupted work took to end after the call returned (it stops at
  its next solver iteration, or after the setup). Target: at most 0.5 s at any size.
- plan_many: the same for a batch of 4 landings per worker thread at the middle node count.
- executor: plan_many on a ProcessPoolExecutor of 2 processes (chunks of --executor-chunks
  landings at N = 1000), SIGINT to this process only (as a notebook's interrupt sends it)
  or to it and its worker processes (as Ctrl-C in a terminal sends it to the foreground
  process group), then the time to leave the executor's `with` block and the time until
  its worker processes are gone (the interpreter's exit waits for them).

Not a test: numbers only.
"""

import argparse
import concurrent.futures
import multiprocessing
import os
import signal
import threading
import time

import tarvo
from tarvo.landing.engine import default_workers


def fixed(n, tof=50.0):
    return tarvo.Config(solver=tarvo.Solver(n=n, time_of_flight=tof))


def threads():
    with open("/proc/self/status") as status:
        return next(int(line.split()[1]) for line in status if line.startswith("Threads:"))


def wait_for_threads(count, limit=600.0):
    """Seconds until this process is back to `count` threads."""
    start = time.monotonic()
    while threads() > count and time.monotonic() - start < limit:
        time.sleep(0.005)
    return time.monotonic() - start


def interrupted(call, delay):
    """(seconds from SIGINT to KeyboardInterrupt, seconds the work then ran on), or None
    when the call finished first."""
    baseline = threads()
    sent = []

    def interrupt():
        sent.append(time.monotonic())
        os.kill(os.getpid(), signal.SIGINT)

    timer = threading.Timer(delay, interrupt)
    timer.start()
    try:
        call()
    except KeyboardInterrupt:
        returned = time.monotonic() - sent[0]
        return returned, wait_for_threads(baseline)
    finally:
        timer.cancel()
    return None


def latency_table(name, call, fractions=(0.02, 0.1, 0.3, 0.5, 0.8)):
    started = time.monotonic()
    call()
    whole = time.monotonic() - started
    print(f"{name}: {whole:.2f} s uninterrupted")
    worst = 0.0
    for fraction in fractions:
        outcome = interrupted(call, fraction * whole)
        if outcome is None:
            print(f"  SIGINT at {fraction:4.0%}: finished first")
            continue
        returned, ran_on = outcome
        worst = max(worst, returned)
        print(f"  SIGINT at {fraction:4.0%}: KeyboardInterrupt after {returned * 1e3:6.1f} ms; "
              f"the work ended {ran_on:5.2f} s later")
    print(f"  worst: {worst * 1e3:.1f} ms (target 500 ms)")


def executor_exit(chunk, whole_group):
    configs = [fixed(1000, 40.0 + 0.01 * i) for i in range(400)]
    sent = []

    def interrupt():
        sent.append(time.monotonic())
        for child in multiprocessing.active_children() if whole_group else ():
            os.kill(child.pid, signal.SIGINT)
        os.kill(os.getpid(), signal.SIGINT)

    threading.Timer(3.0, interrupt).start()
    try:
        with concurrent.futures.ProcessPoolExecutor(2) as executor:
            tarvo.plan_many(configs, executor=executor, chunksize=chunk)
    except KeyboardInterrupt:
        left = time.monotonic() - sent[0]
    start = time.monotonic()
    while multiprocessing.active_children() and time.monotonic() - start < 120:
        time.sleep(0.01)
    gone = time.monotonic() - sent[0]
    to = "this process and its workers" if whole_group else "this process only"
    print(f"executor: chunks of {chunk} at N = 1000, SIGINT to {to} after 3 s: left the "
          f"`with` after {left:.2f} s; worker processes gone after {gone:.2f} s")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--nodes", type=int, nargs="+", default=[1000, 10000, 100000])
    parser.add_argument("--executor-chunks", type=int, default=16)
    arguments = parser.parse_args()
    for n in arguments.nodes:
        latency_table(f"plan, N = {n}", lambda: tarvo.plan(fixed(n)))
    middle = sorted(arguments.nodes)[len(arguments.nodes) // 2]
    batch = [fixed(middle, 50.0 + i) for i in range(4 * default_workers())]
    latency_table(f"plan_many, {len(batch)} landings at N = {middle}",
                  lambda: tarvo.plan_many(batch))
    for whole_group in (False, True):
        executor_exit(arguments.executor_chunks, whole_group)


if __name__ == "__main__":
    main()
