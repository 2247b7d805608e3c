"""`plan`: one landing, fixed or searched, as a `Landing` value (and `plan_many` for many)."""

from __future__ import annotations

from collections.abc import Callable

from . import engine
from .batch import plan_many
from .landing import Landing, Trial
from .._portable import to_portable
from .._tarvo import Config

__all__ = ["plan", "plan_many"]


def plan(
    config: Config, *, progress: Callable[[Trial], object] | None = None,
    unreachable: str = "fail", accuracy: str = "default",
) -> Landing:
    """Plan one landing: the fixed time of flight, or the search when it is unset.

    With the default options its numbers are those of ``tarvo.solve(config)``, bit for bit,
    unless ``config.environment.max_angle_deg`` is below 90: `plan` then keeps the thrust
    within that angle of the vertical, which `solve` ignores. A failure is not an exception:
    it is a `Landing` with ``ok`` false and, in ``message``, the very text that `tarvo.solve`
    raises (or, for a bad pointing angle, a text that names it).

    The solves run without the interpreter lock, so other Python threads keep running; a
    search solves its trials on the machine's cores at once where that keeps the very same
    trials and result. Ctrl-C stops the planning at its next solver iteration and is raised
    within a tenth of a second (the solver's setup of a very large problem cannot be
    interrupted: it ends on its own, in the background).

    Parameters
    ----------
    config : Config
        The landing to plan; read once, when the call starts.
    progress : callable, optional
        Called with each `Trial` (time of flight, status, final mass) in order, in the
        calling thread, as the trials finish. An exception it raises stops the planning
        and reaches the caller.
    unreachable : {"fail", "closest"}, default "fail"
        When no time of flight reaches the target: fail, or land as close to the target as
        the vehicle can (``miss_distance`` and ``message`` then say so).
    accuracy : {"default", "high"}, default "default"
        The solver's default tolerances, or tightened ones (see ``Landing.solver`` for the
        final gap and residuals).

    Raises
    ------
    TypeError
        ``config`` is not a `Config`, or ``progress`` is neither None nor callable.
    ValueError
        ``unreachable`` or ``accuracy`` is none of its choices.
    KeyboardInterrupt
        On Ctrl-C; the planning is abandoned and nothing is returned.
    """
    if not isinstance(config, Config):
        raise TypeError(f"plan() expects a Config, not {type(config).__name__}")
    if progress is not None and not callable(progress):
        raise TypeError(f"progress must be a callable or None, not {type(progress).__name__}")
    options = engine.engine_options(unreachable, accuracy)
    return engine.solve_one(to_portable(config), progress, options)
