"""The planning options both commands take: --method, --accuracy and --closest."""

from __future__ import annotations

from ..landing.engine import ACCURACIES, DEFAULT_ACCURACY
from ..landing.landing import METHODS

__all__ = ["add_planning_options", "planning_options"]


def add_planning_options(parser) -> None:
    parser.add_argument("--method", choices=METHODS, default=METHODS[0],
                        help="continuous: every limit holds between the nodes too (default); "
                             "nodes: the fixed formulation, limits at the nodes only")
    defaults = ", ".join(f"{accuracy} for {method}" for method, accuracy in DEFAULT_ACCURACY.items())
    parser.add_argument("--accuracy", choices=ACCURACIES,
                        help=f"the solver's default tolerances, or tightened ones "
                             f"(default: the method's, {defaults})")
    parser.add_argument("--closest", action="store_true",
                        help="when no time of flight reaches the target, land as close to it "
                             "as the vehicle can, with the least fuel")


def planning_options(arguments) -> dict:
    """The keyword arguments of `tarvo.plan` the parsed options ask for."""
    return {"method": arguments.method, "accuracy": arguments.accuracy,
            "unreachable": "closest" if arguments.closest else "fail"}
