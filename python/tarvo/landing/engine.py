"""How landings are computed: the seam between the planning API and the engine.

`solve_one` plans one configuration and `solve_batch` a list of them, both given in the
portable form (`tarvo._portable`) and both returning `Landing` values; everything above
(`plan`, `plan_many`, executors, progress) goes through these two functions only. Both run
on `tarvo._engine`: the numeric work runs without the interpreter lock on C++ threads, the
callbacks run in the calling thread, and Ctrl-C is raised within a tenth of a second (work
still in a solver setup, which cannot be interrupted, ends on its own).
"""

from __future__ import annotations

import os
from collections.abc import Callable, Sequence
from typing import Any

from .. import _engine
from .landing import METHODS, NODE_ARRAYS, VERIFICATION_FAILED, Landing, Trial, failure_status
from .._portable import Portable, from_portable

__all__ = [
    "solve_one", "solve_batch", "engine_options", "default_workers", "WORKER_FAILED",
    "ACCURACIES", "UNREACHABLE", "DEFAULT_ACCURACY",
]

WORKER_FAILED = "WorkerFailed"

# The planning options of the API and the engine's name for each choice: the one place
# where the API's accuracy vocabulary meets the engine's.
ACCURACIES = {"default": "standard", "high": "high"}
UNREACHABLE = {"fail": "fail", "closest": "closest"}
# The accuracy each method plans with when none is given: the continuous method's guarantee
# holds at the optimum, which the tight tolerances reach; the nodes method keeps the
# solver's own, as `tarvo.solve`.
DEFAULT_ACCURACY = {"continuous": "high", "nodes": "default"}


def default_workers() -> int:
    """The number of cores this process may run on."""
    try:
        return len(os.sched_getaffinity(0))
    except AttributeError:  # not on Linux
        return os.cpu_count() or 1


def engine_options(
    method: Any = "continuous", unreachable: Any = "fail", accuracy: Any = None,
) -> dict[str, str]:
    """The engine's options for the API's ``method``, ``unreachable`` and ``accuracy``
    (None: the method's default accuracy).

    Raises ValueError for any other value, before any work starts.
    """
    method = _choice("method", method, dict(zip(METHODS, METHODS)))
    if accuracy is None:
        accuracy = DEFAULT_ACCURACY[method]
    return {"method": method, "unreachable": _choice("unreachable", unreachable, UNREACHABLE),
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

    ``options`` are `engine_options` (default: those of `engine_options()`); the search
    runs its trials on the machine's cores.
    """
    options = options or engine_options()
    report = None
    if on_trial is not None:
        def report(*trial: Any) -> None:
            on_trial(_trial(*trial))

    result = _engine.plan(portable, on_trial=report, **options)
    return _landing(portable, result, options["method"])


def solve_batch(
    portables: Sequence[Portable], workers: int | None = None,
    on_landing: Callable[[int], object] | None = None, options: dict[str, str] | None = None,
) -> list[Landing]:
    """Plan many landings on ``workers`` threads (default: the cores); input order kept.

    ``on_landing(index)`` is called in the calling thread as each entry finishes. An entry
    that fails alone (an internal fault of its planning) becomes a failed `Landing` with
    status "WorkerFailed"; the others are kept.
    """
    options = options or engine_options()
    results = _engine.plan_batch(portables, workers=workers, on_landing=on_landing, **options)
    return [_landing(portable, result, options["method"])
            for portable, result in zip(portables, results)]


def _trial(tof: float, status: str, final_mass: float, iterations: int,
           failure: str | None, solver_status: str | None) -> Trial:
    """A trial of the engine; a failed one gets the short status of its failure."""
    if failure is not None:
        status = failure_status(failure, solver_status)
    return Trial(tof, status, final_mass)


def _landing(portable: Portable, result: dict[str, Any] | BaseException, method: str) -> Landing:
    config = from_portable(portable)
    if isinstance(result, BaseException):
        return Landing.failed(config, method, WORKER_FAILED,
                              f"planning raised {type(result).__name__}: {result}")
    trials = [_trial(*trial) for trial in result["trials"]]
    common = dict(method=method, trials=trials, iterations=result["iterations"],
                  solve_seconds=result["solve_seconds"])
    if not result["ok"]:
        return Landing.failed(config, status=failure_status(result["failure"],
                                                            result["solver_status"]),
                              message=result["status"], **common)
    landing = Landing(
        config, ok=True, status=result["status"], message=result["note"] or None,
        time_of_flight=result["time_of_flight"], objective=result["objective"],
        final_mass=result["final_mass"], miss_distance=result["miss_distance"],
        solver=result["solver"], **common, **{name: result[name] for name in NODE_ARRAYS},
    )
    if method == "nodes" or landing.verification.ok:
        return landing
    values = landing._values
    reasons = (landing.verification.failure_message(), landing.message)
    values.update(ok=False, status=VERIFICATION_FAILED,
                  message="; ".join(reason for reason in reasons if reason))
    return Landing(config, verification=landing.verification, **values)
