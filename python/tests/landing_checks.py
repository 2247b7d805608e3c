"""Exact comparisons of landings, trajectories and configurations for the planning tests."""

import math
import struct

import numpy as np

from tarvo._portable import to_portable

# The per-node arrays of a trajectory, and of a landing besides its masses.
NODE_ARRAYS = ("positions", "velocities", "u_values", "thrusts", "normalized_thrusts",
               "z_values", "s_values", "time_points")


def value_bits(value):
    """A value with every float replaced by its bit pattern, nested tuples and lists included."""
    if isinstance(value, float):
        return struct.pack("<d", value)
    if isinstance(value, (tuple, list)):
        return tuple(value_bits(item) for item in value)
    return value


def config_bits(config):
    return value_bits(to_portable(config))


def array_bits(array):
    array = np.asarray(array)
    return array.dtype, array.shape, array.tobytes()


def assert_same_landing(first, second):
    """Every attribute equal bit for bit, except the wall time of the solve."""
    assert config_bits(first.config) == config_bits(second.config)
    for name in ("ok", "method", "status", "message", "iterations"):
        assert getattr(first, name) == getattr(second, name), name
    for name in ("time_of_flight", "objective", "final_mass", "fuel_used", "miss_distance"):
        assert value_bits(getattr(first, name)) == value_bits(getattr(second, name)), name
    assert value_bits(first.trials) == value_bits(second.trials)
    assert value_bits(first.solver) == value_bits(second.solver)
    assert (first.verification is None) == (second.verification is None)
    if first.verification is not None:
        assert value_bits(first.verification.checks) == value_bits(second.verification.checks)
    for name in (*NODE_ARRAYS, "masses"):
        assert array_bits(getattr(first, name)) == array_bits(getattr(second, name)), name


def is_worker_failure(landing):
    return (not landing.ok and landing.status == "WorkerFailed" and landing.message
            and math.isnan(landing.final_mass) and landing.positions.shape == (0, 3))
