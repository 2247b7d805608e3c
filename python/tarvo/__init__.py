"""Fuel-optimal powered-descent trajectories.

Describe the lander with `Spacecraft`, `Environment` and `Solver`, bundle them in a
`Config` and call `solve(config)`; the returned `PyTrajectory` holds the per-node
states, thrusts and log-masses as NumPy arrays.
"""

__version__ = "0.1.0"  # the version in pyproject.toml

from ._tarvo import (
    Config,
    Environment,
    PanicException,
    PyTrajectory,
    Solver,
    Spacecraft,
    solve,
)
from . import _pickling
from .landing.landing import Landing, SolverFigures, Trial
from .landing.plan import plan, plan_many
from .study.dispersions import normal, uniform
from .study.study import Study, monte_carlo
from .landing.verification import Check, Verification
from .flight.errors import FlightErrors
from .flight.flight import Flight, Replan
from .flight.fly import fly

_pickling.register()

__all__ = [
    "Config",
    "Spacecraft",
    "Environment",
    "Solver",
    "PyTrajectory",
    "solve",
    "PanicException",
    "Landing",
    "Trial",
    "SolverFigures",
    "plan",
    "plan_many",
    "normal",
    "uniform",
    "monte_carlo",
    "Study",
    "Verification",
    "Check",
    "fly",
    "Flight",
    "FlightErrors",
    "Replan",
]
