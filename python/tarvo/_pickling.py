"""Pickling and copying of the configuration classes, registered with `copyreg`.

The classes keep no methods of their own for it: `register` tells `copyreg` how to reduce
each of `Config`, `Spacecraft`, `Environment` and `Solver` to its class and its field values
in constructor order, so `pickle` (every protocol), `copy.copy` and `copy.deepcopy` need
nothing but the public constructors, and every double keeps its bits, NaN included (see
`tarvo._portable`).

`copyreg` looks reducers up by the exact type, so an instance of a subclass pickles only once
its class is registered too: ``register(MyConfig)``. It then reads back as a `MyConfig` made
through the base constructor, with its instance dictionary restored.
"""

from __future__ import annotations

import copyreg
from typing import Any

from ._portable import FIELDS, exact_value

__all__ = ["register"]


def _reduce(record: Any) -> tuple[Any, ...]:
    cls = type(record)
    base = next(base for base in cls.__mro__ if base in FIELDS)
    values = tuple(exact_value(getattr(record, name)) for name in FIELDS[base])
    if cls is base:
        return cls, values
    # A subclass: allocate through the inherited constructor, as pickle's NEWOBJ does, and
    # restore what the instance keeps in its dictionary.
    return copyreg.__newobj__, (cls, *values), getattr(record, "__dict__", None) or None


def register(*classes: type) -> None:
    """Register pickling for the four configuration classes, or for the given subclasses."""
    for cls in classes or tuple(FIELDS):
        if not any(base in FIELDS for base in cls.__mro__):
            raise TypeError(f"{cls.__name__} is not a configuration class")
        copyreg.pickle(cls, _reduce)
