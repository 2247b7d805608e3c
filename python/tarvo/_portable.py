"""The exact portable form of a configuration: a flat tuple of its field values.

A `Config` is an object of the extension module; to ship it to another process or machine
(an executor's task, a pickle) it travels as 18 plain values in declaration order: the 11
`Spacecraft` fields, the 3 `Environment` fields and the 4 `Solver` fields. A double is a
`float`, a 3-vector a tuple of three floats, the node count ``n`` an `int`, an optional
double None or a float.

Every double keeps its bit pattern: infinities and -0.0 survive any pickle protocol as they
are, and a NaN travels as `BitExactFloat`, a float whose pickled form is its 64-bit pattern,
so that its sign and payload survive even pickle protocol 0, which writes floats as text.
"""

from __future__ import annotations

import inspect
import math
import struct
from typing import Any, Union

from ._tarvo import Config, Environment, Solver, Spacecraft

__all__ = ["FIELDS", "RECORDS", "Portable", "to_portable", "from_portable", "copy_config",
           "exact_float", "same_values"]

# Constructor parameters of each record class, in declaration order, as the extension
# declares them (its classes are built from the core's field tables).
FIELDS: dict[type, tuple[str, ...]] = {
    cls: tuple(inspect.signature(cls).parameters)
    for cls in (Spacecraft, Environment, Solver, Config)
}

# The records of a `Config`, by the name of its attribute, in declaration order.
RECORDS: dict[str, type] = {
    "spacecraft": Spacecraft, "environment": Environment, "solver": Solver,
}
LENGTH = sum(len(FIELDS[record]) for record in RECORDS.values())

_PortableValue = Union[float, int, None, tuple[float, float, float]]
Portable = tuple[_PortableValue, ...]


class BitExactFloat(float):
    """A float that pickles and copies as its IEEE-754 bit pattern (used for NaNs)."""

    __slots__ = ()

    def __reduce_ex__(self, protocol: Any) -> tuple[Any, tuple[int]]:
        return _float_from_bits, (struct.unpack("<Q", struct.pack("<d", self))[0],)


def _float_from_bits(bits: int) -> float:
    return struct.unpack("<d", struct.pack("<Q", bits))[0]


def exact_float(value: float) -> float:
    """The value itself, or for a NaN a `BitExactFloat` that keeps its sign and payload."""
    return BitExactFloat(value) if math.isnan(value) else value


def exact_value(value: Any) -> Any:
    """A field value read from a record, in a form that pickles bit for bit."""
    if isinstance(value, float):
        return exact_float(value)
    if isinstance(value, list):
        return tuple(exact_float(component) for component in value)
    return value  # n (an int) or an unset optional (None)


def to_portable(config: Config) -> Portable:
    """The 18 field values of a configuration (any `Config`, subclasses included)."""
    return tuple(
        exact_value(getattr(record, name))
        for record in (getattr(config, attribute) for attribute in RECORDS)
        for name in FIELDS[type(record)]
    )


def from_portable(values: Portable) -> Config:
    """Rebuild the `Config` whose portable form is ``values``."""
    if not isinstance(values, tuple) or len(values) != LENGTH:
        raise ValueError(f"a portable configuration is a tuple of {LENGTH} values")
    records = []
    start = 0
    for record in RECORDS.values():
        stop = start + len(FIELDS[record])
        records.append(record(*values[start:stop]))
        start = stop
    return Config(*records)


def copy_config(config: Config) -> Config:
    """An independent `Config` (never a subclass) with the same fields, bit for bit."""
    return from_portable(to_portable(config))


def same_values(a: Any, b: Any) -> bool:
    """Value equality in which a NaN equals a NaN: of numbers, NumPy arrays, None, strings,
    and dicts, lists and tuples of these (a portable configuration, a trial). A named tuple
    equals a plain one with the same items."""
    if isinstance(a, float) and isinstance(b, float):
        return a == b or (math.isnan(a) and math.isnan(b))
    if isinstance(a, tuple) or isinstance(b, tuple):
        return (isinstance(a, tuple) and isinstance(b, tuple) and len(a) == len(b)
                and all(same_values(x, y) for x, y in zip(a, b)))
    if type(a) is not type(b):
        return False
    if isinstance(a, dict):
        return a.keys() == b.keys() and all(same_values(a[key], b[key]) for key in a)
    if isinstance(a, list):
        return len(a) == len(b) and all(same_values(x, y) for x, y in zip(a, b))
    if hasattr(a, "shape"):
        import numpy

        return bool(numpy.array_equal(a, b, equal_nan=True))
    return bool(a == b)
