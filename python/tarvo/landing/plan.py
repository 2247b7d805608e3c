"""`plan`: one landing, fixed or searched, as a `Landing` value (and `plan_many` for many)."""

from __future__ import annotations

from collections.abc import Callable

from . import engine
from .batch import plan_many
from .landing import Landing, Trial
from .._tarvo import Config

__all__ = ["plan", "plan_many"]


def plan(
    config: Config, *, method: str = "continuous", accuracy: str | None = None,
    unreachable: str = "fail", progress: Callable[[Trial], object] | None = None,
) -> Landing:
    """Plan one landing: the fixed time of flight, or the search when it is unset.

    The default method, "continuous", returns landings that can be flown as planned: with
    the thrust acceleration held linear between nodes and the real mass flow, every limit
    holds at every instant, not only at the nodes, and the final mass it reports is the
    real one or a little below it. Each landing carries its `Landing.verification`; one that
    fails it is not ok (status "VerificationFailed", its arrays kept).

    The "nodes" method is the fixed formulation of ``tarvo.solve``: with the default
    options its numbers are those of ``tarvo.solve(config)``, bit for bit, unless
    ``config.environment.max_angle_deg`` is below 90 (`plan` then keeps the thrust within
    that angle of the vertical, which `solve` ignores). It bounds the thrust at the nodes
    only; its landings carry their verification too, but keep ``ok`` and ``status`` as the
    program solved them. A failure is not an exception: it is a `Landing` with ``ok`` false
    and, in ``message``, the very text that `tarvo.solve` raises (or, for a bad pointing
    angle, a text that names it).

    An impossible configuration (a time of flight or a bound on it that is not a positive
    finite number, bounds out of order, thrust fractions out of order or negative) gives
    ``ok`` false, status "InvalidInput" and a message that names the field and its value.

    The solves run without the interpreter lock, so other Python threads keep running; a
    search solves its trials on the machine's cores at once where that keeps the very same
    trials and result. Ctrl-C stops the planning at its next solver iteration and is raised
    within a tenth of a second (the solver's setup of a very large problem cannot be
    interrupted: it ends on its own, in the background).

    Parameters
    ----------
    config : Config
        The landing to plan; read once, when the call starts.
    method : {"continuous", "nodes"}, default "continuous"
        Limits held at every instant, or at the nodes only as `tarvo.solve` holds them.
    accuracy : {"default", "high"}, optional
        The solver's default tolerances, or tightened ones with the objective scaled to the
        positions (see ``Landing.solver`` for the final gap and residuals). Default: the
        method's own, "high" for the continuous method and "default" for the nodes method.
    unreachable : {"fail", "closest"}, default "fail"
        When no time of flight reaches the target: fail, or land as close to the target as
        the vehicle can (``miss_distance`` and ``message`` then say so).
    progress : callable, optional
        Called with each `Trial` (time of flight, status, final mass) in order, in the
        calling thread, as the trials finish. An exception it raises stops the planning
        and reaches the caller.

    Raises
    ------
    TypeError
        ``config`` is not a `Config`, or ``progress`` is neither None nor callable.
    ValueError
        ``method``, ``unreachable`` or ``accuracy`` is none of its choices.
    KeyboardInterrupt
        On Ctrl-C; the planning is abandoned and nothing is returned.
    """
    if not isinstance(config, Config):
        raise TypeError(f"plan() expects a Config, not {type(config).__name__}")
    if progress is not None and not callable(progress):
        raise TypeError(f"progress must be a callable or None, not {type(progress).__name__}")
    options = engine.engine_options(method, unreachable, accuracy)
    return engine.solve_one(config, progress, options)
