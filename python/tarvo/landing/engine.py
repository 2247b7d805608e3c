"""How landings are computed: the seam between the planning API and the engine.

`solve_one` plans one configuration and `solve_batch` a list of them, both given in the
portable form (`tarvo._portable`) and both returning `Landing` values; everything above
(`plan`, `plan_many`, executors, progress) goes through these two functions only. Both run
on `tarvo._engine`: the numeric work runs without the interpreter lock on C++ threads, the
callbacks run in the calling thread, and Ctrl-C is raised within a tenth of a second (work
still in a solver setup, which cannot be interrupted, ends on its own).
"""

from __future__ import annotations

import math
import os
from collections.abc import Callable, Sequence
from typing import Any

from .. import _engine
from .landing import NODE_ARRAYS, Landing, Trial, failure_status
from .._portable import Portable, from_portable

__all__ = [
    "solve_one", "solve_batch", "engine_options", "default_workers", "WORKER_FAILED",
    "ACCURACIES", "UNREACHABLE",
]

WORKER_FAILED = "WorkerFailed"

# The planning options of the API and the engine's name for each choice.
ACCURACIES = {"default": "standard", "high": "high"}
UNREACHABLE = {"fail": "fail", "closest": "closest"}


def default_workers() -> int:
    """The number of cores this process may run on."""
    try:
        return len(os.sched_getaffinity(0))
    except AttributeError:  # not on Linux
        return os.cpu_count() or 1


def engine_options(unreachable: Any = "fail", accuracy: Any = "default") -> dict[str, str]:
    """The engine's options for the API's ``unreachable`` and ``accuracy``.

    Raises ValueError for any other value, before any work starts.
    """
    return {"unreachable": _choice("unreachable", unreachable, UNREACHABLE),
            "accuracy": _choice("accuracy", accuracy, ACCURACIES)}


def _choice(name: str, value: Any, choices: dict[str, str]) -> str:
    if isinstance(value, str) and value in choices:
        return choices[value]
    allowed = " or ".join(repr(choice) for choice in choices)
    raise ValueError(f"{name} must be {allowed}, not {value!r}")


def solve_one(
    portable: Portable, on_trial: Callable[[Trial], object] | None = None,
    options: dict[str, str] | None = None,
) -> Landing:
    """Plan one landing; ``on_trial`` receives each trial, in order, in the calling thread.

    ``options`` are `engine_options`; the search runs its trials on the machine's cores.
    """
    report = None
    if on_trial is not None:
        def report(tof: float, status: str, final_mass: float, iterations: int) -> None:
            on_trial(_trial(tof, status, final_mass))

    result = _engine.plan(portable, on_trial=report, **(options or {}))
    return _landing(portable, result)


def solve_batch(
    portables: Sequence[Portable], workers: int | None = None,
    on_landing: Callable[[int], object] | None = None, options: dict[str, str] | None = None,
) -> list[Landing]:
    """Plan many landings on ``workers`` threads (default: the cores); input order kept.

    ``on_landing(index)`` is called in the calling thread as each entry finishes. An entry
    that fails alone (an internal fault of its planning) becomes a failed `Landing` with
    status "WorkerFailed"; the others are kept.
    """
    results = _engine.plan_batch(portables, workers=workers, on_landing=on_landing,
                                 **(options or {}))
    return [_landing(portable, result) for portable, result in zip(portables, results)]


def _trial(tof: float, status: str, final_mass: float) -> Trial:
    """A trial of the engine: a failed one (final mass -inf) gets the short status."""
    if final_mass == -math.inf:
        status = failure_status(status)
    return Trial(tof, status, final_mass)


def _landing(portable: Portable, result: dict[str, Any] | BaseException) -> Landing:
    config = from_portable(portable)
    if isinstance(result, BaseException):
        return Landing.failed(config, WORKER_FAILED,
                              f"planning raised {type(result).__name__}: {result}")
    trials = [_trial(*trial[:3]) for trial in result["trials"]]
    common = dict(trials=trials, iterations=result["iterations"],
                  solve_seconds=result["solve_seconds"])
    if not result["ok"]:
        message = result["status"]
        return Landing.failed(config, failure_status(message), message, **common)
    return Landing(
        config, ok=True, status=result["status"], message=result["note"] or None,
        time_of_flight=result["time_of_flight"], objective=result["objective"],
        final_mass=result["final_mass"], miss_distance=result["miss_distance"],
        solver=result["solver"], **common, **{name: result[name] for name in NODE_ARRAYS},
    )
