"""`plan`: one landing, fixed or searched, as a `Landing` value (and `plan_many` for many)."""

from __future__ import annotations

from collections.abc import Callable

from . import _solving
from ._batch import plan_many
from ._landing import Landing, Trial, failure_status
from ._portable import to_portable
from ._tarvo import Config

__all__ = ["plan", "plan_many", "failure_status"]


def plan(config: Config, *, progress: Callable[[Trial], object] | None = None) -> Landing:
    """Plan one landing: the fixed time of flight, or the search when it is unset.

    Its numbers are those of ``tarvo.solve(config)``, bit for bit. A failure is not an
    exception: it is a `Landing` with ``ok`` false and, in ``message``, the very text that
    `tarvo.solve` raises.

    Parameters
    ----------
    config : Config
        The landing to plan; read once, when the call starts.
    progress : callable, optional
        Called with each `Trial` (time of flight, status, final mass) in order, in the
        calling thread. (While planning goes through `tarvo.solve`, only the final solve
        of a search is reported.)

    Raises
    ------
    TypeError
        ``config`` is not a `Config`, or ``progress`` is neither None nor callable.
    """
    if not isinstance(config, Config):
        raise TypeError(f"plan() expects a Config, not {type(config).__name__}")
    if progress is not None and not callable(progress):
        raise TypeError(f"progress must be a callable or None, not {type(progress).__name__}")
    return _solving.solve_one(to_portable(config), progress)
