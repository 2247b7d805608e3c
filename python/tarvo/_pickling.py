"""Pickling and copying of the configuration classes, registered with `copyreg`.

The classes keep no methods of their own for it: each object reduces to its class and its
field values in constructor order, so a round trip keeps every double bit for bit (NaN and
infinities included) and needs nothing but the public constructors.
"""

import copyreg

from ._tarvo import Config, Environment, Solver, Spacecraft

# Constructor parameters of each class, in declaration order.
FIELDS = {
    Spacecraft: (
        "wet_mass", "fuel", "real_max_thrust", "min_thrust_pct", "max_thrust_pct",
        "max_velocity", "initial_position", "initial_velocity", "target_velocity",
        "target_position", "fuel_consumption",
    ),
    Environment: ("gravity", "glide_slope_angle_deg", "max_angle_deg"),
    Solver: ("n", "time_of_flight", "tof_min", "tof_max"),
    Config: ("spacecraft", "environment", "solver"),
}


def _reduce(record):
    cls = next(base for base in type(record).__mro__ if base in FIELDS)
    values = tuple(getattr(record, name) for name in FIELDS[cls])
    return cls, values


def register():
    for cls in FIELDS:
        copyreg.pickle(cls, _reduce)
