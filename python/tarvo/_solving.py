"""How landings are computed: the seam between the planning API and the numerical layer.

`solve_one` plans one configuration and `solve_batch` a list of them, both given in the
portable form (`tarvo._portable`) and both returning `Landing` values; everything above
(`plan`, `plan_many`, executors, progress) goes through these two functions only.

Provisional: both run `tarvo.solve`, which holds the interpreter lock for the whole search.
So a search reports only its final solve as a trial, its exact time of flight is recovered
from the time step, interior-point iterations are not counted, Ctrl-C waits for the solve
to end, and a thread pool gives no speedup. The engine module replaces these two functions.
"""

from __future__ import annotations

import math
import os
import time
from collections.abc import Callable, Sequence
from concurrent.futures import ThreadPoolExecutor, as_completed

from ._landing import NODE_ARRAYS, Landing, Trial, failure_status
from ._portable import Portable, from_portable
from ._tarvo import Config, PanicException, PyTrajectory, solve

__all__ = ["solve_one", "solve_batch", "default_workers", "WORKER_FAILED"]

WORKER_FAILED = "WorkerFailed"


def default_workers() -> int:
    """The number of cores this process may run on."""
    try:
        return len(os.sched_getaffinity(0))
    except AttributeError:  # not on Linux
        return os.cpu_count() or 1


def solve_one(portable: Portable, on_trial: Callable[[Trial], object] | None = None) -> Landing:
    """Plan one landing; ``on_trial`` receives each trial, in order, in the calling thread."""
    config = from_portable(portable)
    started = time.perf_counter()
    try:
        trajectory = solve(config)
    except ValueError as error:
        landing = _failed(config, str(error), time.perf_counter() - started)
    else:
        landing = _solved(config, trajectory, time.perf_counter() - started)
    if on_trial is not None:
        for trial in landing.trials:
            on_trial(trial)
    return landing


def solve_batch(
    portables: Sequence[Portable], workers: int | None = None,
    on_landing: Callable[[int], object] | None = None,
) -> list[Landing]:
    """Plan many landings on ``workers`` threads (default: the cores); input order kept.

    ``on_landing(index)`` is called in the calling thread as each entry finishes. An entry
    whose planning raises becomes a failed `Landing` of its own; the others are kept.
    """
    workers = workers or default_workers()
    if workers == 1 or len(portables) == 1:
        return [_reported(index, solve_entry(portable), on_landing)
                for index, portable in enumerate(portables)]
    results: list[Landing | None] = [None] * len(portables)
    pool = ThreadPoolExecutor(max_workers=min(workers, len(portables)),
                              thread_name_prefix="tarvo-plan")
    try:
        futures = {pool.submit(solve_entry, portable): index
                   for index, portable in enumerate(portables)}
        for future in as_completed(futures):
            index = futures[future]
            results[index] = _reported(index, future.result(), on_landing)
    except BaseException:
        # Ctrl-C or a failing progress callback: drop the queued entries and return at once;
        # the entries already running end on their own.
        pool.shutdown(wait=False, cancel_futures=True)
        raise
    pool.shutdown()
    return results  # type: ignore[return-value]  # every index was filled


def solve_entry(portable: Portable) -> Landing:
    """Plan one entry of a batch: an unexpected exception becomes that entry's failure."""
    try:
        return solve_one(portable)
    except (Exception, PanicException) as error:
        return Landing.failed(from_portable(portable), WORKER_FAILED,
                              f"planning raised {type(error).__name__}: {error}")


def _reported(index: int, landing: Landing, on_landing: Callable[[int], object] | None) -> Landing:
    if on_landing is not None:
        on_landing(index)
    return landing


def _solved(config: Config, trajectory: PyTrajectory, seconds: float) -> Landing:
    arrays = {name: getattr(trajectory, name) for name in NODE_ARRAYS}
    tof = _time_of_flight(config, arrays["time_points"])
    return Landing(
        config, ok=True, status=trajectory.status, message=None, time_of_flight=tof,
        objective=trajectory.objective, final_mass=trajectory.final_mass,
        trials=[(tof, trajectory.status, trajectory.final_mass)], iterations=0,
        solve_seconds=seconds, miss_distance=0.0, **arrays,
    )


def _failed(config: Config, message: str, seconds: float) -> Landing:
    status = failure_status(message)
    trials = []
    fixed = config.solver.time_of_flight
    # A failed fixed-horizon solve is one failed trial; a failed search hides its trials.
    if fixed is not None and message.startswith(("solver status: ", "solver construction error:")):
        trials.append((fixed, status, -math.inf))
    return Landing.failed(config, status, message, trials=trials, solve_seconds=seconds)


def _time_of_flight(config: Config, time_points: Sequence[float]) -> float:
    """The fixed time of flight, or for a search n × the time step of the returned grid."""
    fixed = config.solver.time_of_flight
    if fixed is not None:
        return fixed
    if len(time_points) < 2:
        return math.nan  # a single node carries no trace of its time step
    return float(time_points[1]) * len(time_points)
