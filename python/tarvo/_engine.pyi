from collections.abc import Callable, Iterable
from typing import Any, Literal

from ._tarvo import Config
from .landing.landing import Landing, Trial

_Accuracy = Literal["default", "high"]
_Unreachable = Literal["fail", "closest"]
_Method = Literal["nodes", "continuous"]

def plan(
    config: Config,
    accuracy: _Accuracy = "default",
    unreachable: _Unreachable = "fail",
    workers: int | None = None,
    on_trial: Callable[[Trial], Any] | None = None,
    method: _Method = "nodes",
) -> Landing:
    """Plan one landing with the interpreter lock released; its verification is left None.
    See the module's documentation."""

def plan_batch(
    configs: Iterable[Config],
    accuracy: _Accuracy = "default",
    unreachable: _Unreachable = "fail",
    workers: int | None = None,
    on_landing: Callable[[int], Any] | None = None,
    method: _Method = "nodes",
) -> list[Landing | BaseException]:
    """Plan many landings on a pool of threads, results in input order."""
