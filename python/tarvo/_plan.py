"""`plan`: one landing, fixed or searched, as a `Landing` value.

Provisional: this plans through `tarvo.solve` with the interpreter lock held and cannot
report the search's trials; the engine module replaces it.
"""

import time

from ._landing import Landing
from ._tarvo import Config, solve


def failure_status(message):
    """A short status for a failure text of the core."""
    if message.startswith("solver status: "):
        return message[len("solver status: "):]
    if message.startswith("infeasible:"):
        return "Infeasible"
    if message.startswith("solver construction error:"):
        return "SolverError"
    return "InvalidInput"


def plan(config, *, progress=None):
    """Plan one landing; a failure is a `Landing` with ``ok`` false, never an exception."""
    if not isinstance(config, Config):
        raise TypeError(f"plan() expects a Config, not {type(config).__name__}")
    started = time.perf_counter()
    try:
        trajectory = solve(config)
    except ValueError as error:
        message = str(error)
        return Landing.failed(config, failure_status(message), message,
                              solve_seconds=time.perf_counter() - started)
    times = trajectory.time_points
    fixed = config.solver.time_of_flight
    tof = fixed if fixed is not None else (float(times[1]) * len(times) if len(times) > 1 else float("nan"))
    return Landing(
        config, ok=True, status=trajectory.status, message=None, time_of_flight=tof,
        objective=trajectory.objective, final_mass=trajectory.final_mass,
        trials=[(tof, trajectory.status, trajectory.final_mass)], iterations=0,
        solve_seconds=time.perf_counter() - started, miss_distance=0.0,
        **{name: getattr(trajectory, name) for name in (
            "positions", "velocities", "thrusts", "normalized_thrusts", "z_values",
            "u_values", "s_values", "time_points")},
    )


def plan_many(configs, *, workers=None, executor=None, progress=False, chunksize=None):
    """Plan many landings; results in input order (provisional: serial, or `executor.map`)."""
    configs = list(configs)
    for index, config in enumerate(configs):
        if not isinstance(config, Config):
            raise TypeError(f"configs[{index}] is a {type(config).__name__}, not a Config")
    if executor is not None:
        return list(executor.map(plan, configs))
    return [plan(config) for config in configs]
