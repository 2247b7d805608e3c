"""How landings are computed: the seam between the planning API and the engine.

`solve_one` plans one `Config` and `solve_batch` a list of them, both returning `Landing`
values; everything above (`plan`, `plan_many`, executors, progress) goes through these two
functions only. Both run on `tarvo._engine`, which reads the configurations and makes the
landings: the numeric work runs without the interpreter lock on C++ threads, the callbacks
run in the calling thread, and Ctrl-C is raised within a tenth of a second (work still in a
solver setup, which cannot be interrupted, ends on its own). Here each landing is verified
once, before it reaches the caller.
"""

from __future__ import annotations

import os
from collections.abc import Callable, Sequence
from typing import Any

from .. import _engine
from .landing import METHODS, VERIFICATION_FAILED, Landing, Trial
from .._tarvo import Config

__all__ = [
    "solve_one", "solve_batch", "engine_options", "default_workers", "WORKER_FAILED",
    "ACCURACIES", "DEFAULT_ACCURACY",
]

WORKER_FAILED = "WorkerFailed"

# The choices of the planning options, named alike in the API and the engine: the solver's
# default tolerances or tightened ones; fail on an unreachable target or land closest to it.
ACCURACIES = ("default", "high")
UNREACHABLE_CHOICES = ("fail", "closest")
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
    method = _choice("method", method, METHODS)
    if accuracy is None:
        accuracy = DEFAULT_ACCURACY[method]
    return {"method": method, "accuracy": _choice("accuracy", accuracy, ACCURACIES),
            "unreachable": _choice("unreachable", unreachable, UNREACHABLE_CHOICES)}


def _choice(name: str, value: Any, choices: tuple[str, ...]) -> str:
    if isinstance(value, str) and value in choices:
        return value
    allowed = " or ".join(repr(choice) for choice in choices)
    raise ValueError(f"{name} must be {allowed}, not {value!r}")


def solve_one(
    config: Config, on_trial: Callable[[Trial], object] | None = None,
    options: dict[str, str] | None = None,
) -> Landing:
    """Plan one landing; ``on_trial`` receives each trial, in order, in the calling thread.

    ``options`` are `engine_options` (default: those of `engine_options()`); the search
    runs its trials on the machine's cores.
    """
    options = options or engine_options()
    return _verified(_engine.plan(config, on_trial=on_trial, **options))


def solve_batch(
    configs: Sequence[Config], workers: int | None = None,
    on_landing: Callable[[int], object] | None = None, options: dict[str, str] | None = None,
) -> list[Landing]:
    """Plan many landings on ``workers`` threads (default: the cores); input order kept.

    ``on_landing(index)`` is called in the calling thread as each entry finishes. An entry
    that fails alone (an internal fault of its planning) becomes a failed `Landing` with
    status "WorkerFailed"; the others are kept.
    """
    options = options or engine_options()
    results = _engine.plan_batch(configs, workers=workers, on_landing=on_landing, **options)
    return [
        Landing.failed(config, options["method"], WORKER_FAILED,
                       f"planning raised {type(result).__name__}: {result}")
        if isinstance(result, BaseException) else _verified(result)
        for config, result in zip(configs, results)
    ]


def _verified(landing: Landing) -> Landing:
    """The engine's landing with its verification, which the engine leaves to be made here,
    once. A continuous landing that fails it becomes "VerificationFailed" in place, its
    arrays kept."""
    if not len(landing.z_values):
        return landing
    from .verify import verify_landing

    verification = verify_landing(landing)
    fields: dict[str, Any] = {"verification": verification}
    if landing.method == "continuous" and not verification.ok:
        reasons = (verification.failure_message(), landing.message)
        fields.update(ok=False, status=VERIFICATION_FAILED,
                      message="; ".join(reason for reason in reasons if reason))
    for name, value in fields.items():
        object.__setattr__(landing, name, value)
    return landing
