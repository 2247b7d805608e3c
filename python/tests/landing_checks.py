"""Exact comparisons of landings, trajectories and configurations for the planning tests."""

import math
import struct

import numpy as np

# The per-node arrays of a trajectory, and of a landing besides its masses.
NODE_ARRAYS = ("positions", "velocities", "u_values", "thrusts", "normalized_thrusts",
               "z_values", "s_values", "time_points")


def declared_properties(cls):
    """The properties an extension class declares, in their order."""
    return [name for name, value in vars(cls).items() if type(value).__name__ == "getset_descriptor"]


def value_bits(value):
    """A value with every float and array replaced by its bits, nested tuples and lists included."""
    if isinstance(value, float):
        return struct.pack("<d", value)
    if isinstance(value, (tuple, list)):
        return tuple(value_bits(item) for item in value)
    return array_bits(value) if isinstance(value, np.ndarray) else value


def config_bits(config):
    records = (config.spacecraft, config.environment, config.solver)
    return value_bits([[getattr(record, name) for name in declared_properties(type(record))]
                       for record in records])


def array_bits(array):
    array = np.asarray(array)
    return array.dtype, array.shape, array.tobytes()


# Every attribute of a landing but its configuration, its verification and the wall time.
LANDING_VALUES = ("ok", "method", "status", "message", "iterations", "time_of_flight", "objective",
                  "final_mass", "fuel_used", "miss_distance", "trials", "solver", *NODE_ARRAYS, "masses")


def assert_same_landing(first, second):
    """Every attribute equal bit for bit, except the wall time of the solve."""
    assert config_bits(first.config) == config_bits(second.config)
    for name in LANDING_VALUES:
        assert value_bits(getattr(first, name)) == value_bits(getattr(second, name)), name
    checks = [getattr(landing.verification, "checks", None) for landing in (first, second)]
    assert value_bits(checks[0]) == value_bits(checks[1])


def is_worker_failure(landing):
    return (not landing.ok and landing.status == "WorkerFailed" and landing.message
            and math.isnan(landing.final_mass) and landing.positions.shape == (0, 3))
