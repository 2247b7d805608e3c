"""Dispersions of a nominal configuration: the distributions, the field paths, the draws.

A dispersion adds a random deviate to one field of the nominal `Config`, named by its path
("spacecraft.wet_mass", "environment.gravity", "solver.time_of_flight", ...). On a 3-vector
field every component gets its own deviate; a 3-sequence of parameters gives each component
its own distribution.

Order of draws (what makes a study reproducible): run ``i`` of a study with seed ``s`` draws
from ``numpy.random.default_rng(numpy.random.SeedSequence(s, spawn_key=(i,)))``, the ``i``-th
child of ``SeedSequence(s).spawn``. It draws the dispersed paths in sorted order, and for each
path one deviate per component (0, 1, 2 on a vector, one on a scalar). Run ``i``'s inputs
therefore depend on the seed, ``i`` and the dispersion mapping only, never on which worker
plans it or in which order the runs finish.
"""

from __future__ import annotations

import math
import numbers
from collections.abc import Mapping, Sequence

from .._portable import FIELDS, RECORDS
from .._tarvo import Config

__all__ = ["normal", "uniform", "DispersionPlan"]



def known_paths() -> list[str]:
    """Every field path of a configuration, in declaration order."""
    return [f"{record}.{field}" for record, cls in RECORDS.items() for field in FIELDS[cls]]


def _number(value, name: str) -> float:
    """A finite float."""
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{name} must be a number, not {value!r}")
    number = float(value)
    if not math.isfinite(number):
        raise ValueError(f"{name} must be finite, not {number}")
    return number


def _parameter(value, name: str):
    """A finite float, or a tuple of three finite floats (one per vector component)."""
    if getattr(value, "ndim", None) == 0:  # a NumPy scalar array
        value = value.item()
    if isinstance(value, (numbers.Real, str, bytes)):
        return _number(value, name)
    ordered = isinstance(value, Sequence) or type(value).__name__ == "ndarray"
    if not ordered:
        raise TypeError(
            f"{name} must be a number or a sequence of three numbers, not {type(value).__name__}")
    length = len(value)
    if length != 3:
        raise ValueError(f"{name} must be a number or a sequence of three numbers, got {length}")
    return tuple(_number(item, f"{name}[{index}]") for index, item in enumerate(value))


def _components(parameter) -> tuple[float, ...]:
    return parameter if isinstance(parameter, tuple) else (parameter,)


class _Distribution:
    """A frozen distribution of deviates added to a nominal value."""

    __slots__ = ()
    _fields: tuple[str, ...] = ()

    def __setattr__(self, name, value):
        raise AttributeError(f"{type(self).__name__} is immutable")

    def __delattr__(self, name):
        raise AttributeError(f"{type(self).__name__} is immutable")

    def _values(self):
        return tuple(getattr(self, name) for name in self._fields)

    def __eq__(self, other):
        return type(other) is type(self) and other._values() == self._values()

    def __hash__(self):
        return hash((type(self), self._values()))

    def __repr__(self):
        arguments = ", ".join(f"{name}={getattr(self, name)!r}" for name in self._fields)
        return f"{type(self).__name__}({arguments})"

    def __reduce__(self):
        return type(self), self._values()

    @property
    def per_component(self) -> bool:
        """Whether the parameters are a 3-sequence, one per vector component."""
        return any(isinstance(value, tuple) for value in self._values())

    def to_dict(self) -> dict:
        """A JSON-ready description: the kind and the parameters."""
        return {"kind": type(self).__name__,
                **{name: (list(value) if isinstance(value, tuple) else value)
                   for name, value in zip(self._fields, self._values())}}

    @staticmethod
    def from_dict(description: Mapping) -> "_Distribution":
        """The distribution `to_dict` described."""
        kinds = {"normal": normal, "uniform": uniform}
        values = dict(description)
        kind = kinds.get(values.pop("kind", None))
        if kind is None:
            raise ValueError(f"unknown distribution {description!r}")
        return kind(**values)


class normal(_Distribution):
    """A normal deviate of mean 0 and standard deviation ``sigma`` added to the nominal value.

    ``sigma`` is a number, or three numbers for the components of a vector field; each must be
    finite and not negative (0 leaves the field at its nominal value).
    """

    __slots__ = ("sigma",)
    _fields = ("sigma",)

    def __init__(self, sigma):
        sigma = _parameter(sigma, "sigma")
        if any(value < 0.0 for value in _components(sigma)):
            raise ValueError(f"sigma must not be negative, got {sigma!r}")
        object.__setattr__(self, "sigma", sigma)

    def draw(self, generator, size: int):
        return generator.normal(0.0, self.sigma, size)


class uniform(_Distribution):
    """A uniform deviate between the offsets ``low`` and ``high`` added to the nominal value.

    Each of ``low`` and ``high`` is a number, or three numbers for the components of a vector
    field; all finite, with ``low <= high`` component by component and a finite width
    ``high - low`` (not -1e308 to 1e308).
    """

    __slots__ = ("low", "high")
    _fields = ("low", "high")

    def __init__(self, low, high):
        low = _parameter(low, "low")
        high = _parameter(high, "high")
        lows, highs = _components(low), _components(high)
        # a single number pairs with each of three
        pairs = list(zip(lows * (3 // len(lows)), highs * (3 // len(highs))))
        if any(a > b for a, b in pairs):
            raise ValueError(f"low must not exceed high, got low={low!r}, high={high!r}")
        if not all(math.isfinite(b - a) for a, b in pairs):  # what the draws scale by
            raise ValueError(f"the width high - low must be a finite number, got low={low!r}, "
                             f"high={high!r}")
        object.__setattr__(self, "low", low)
        object.__setattr__(self, "high", high)

    def draw(self, generator, size: int):
        return generator.uniform(self.low, self.high, size)


def _check_path(path, nominal: Config) -> tuple[str, str, int]:
    """The record and field a path names and the field's width (3 for a vector, 1 for a
    scalar), read from the nominal value; a ValueError saying why it cannot be dispersed."""
    known = known_paths()
    if not isinstance(path, str) or path not in known:
        raise ValueError(f"unknown dispersion path {path!r}; known paths: {', '.join(known)}")
    record, field = path.split(".")
    value = getattr(getattr(nominal, record), field)
    if isinstance(value, int):
        raise ValueError(f"{path} is an integer node count and cannot be dispersed")
    if value is None:
        raise ValueError(f"{path} is unset in the nominal configuration; "
                         "give it a nominal value to disperse it")
    return record, field, len(value) if isinstance(value, list) else 1


class DispersionPlan:
    """Validated dispersions over one nominal configuration; draws the inputs of each run."""

    def __init__(self, nominal: Config, dispersions: Mapping):
        if not isinstance(nominal, Config):
            raise TypeError(f"config must be a Config, not {type(nominal).__name__}")
        if not isinstance(dispersions, Mapping):
            raise TypeError("dispersions must map field paths to distributions, "
                            f"not {type(dispersions).__name__}")
        self.nominal = nominal
        self.records = {name: getattr(nominal, name) for name in RECORDS}
        self.paths = sorted(dispersions, key=str)
        self.distributions = {}
        self.fields = {}
        self._widths = {}
        for path in self.paths:
            record, field, width = _check_path(path, nominal)
            distribution = dispersions[path]
            if not isinstance(distribution, _Distribution):
                raise TypeError(f"{path}: expected tarvo.normal or tarvo.uniform, "
                                f"not {type(distribution).__name__}")
            if distribution.per_component and width == 1:
                raise ValueError(f"{path} is a scalar; give its distribution scalar parameters")
            self.distributions[path] = distribution
            self.fields[path] = (record, field)
            self._widths[path] = width

    def width(self, path: str) -> int:
        """3 for a vector field, 1 for a scalar."""
        return self._widths[path]

    def columns(self) -> list[str]:
        """The table's input columns: one per scalar, one per vector component."""
        names = []
        for path in self.paths:
            width = self.width(path)
            names += [path] if width == 1 else [f"{path}[{k}]" for k in range(width)]
        return names

    def draw(self, seed: int, run: int) -> list[float]:
        """Run ``run``'s sampled input values (nominal plus deviate), in `columns` order."""
        import numpy

        generator = numpy.random.default_rng(numpy.random.SeedSequence(seed, spawn_key=(run,)))
        values = []
        for path in self.paths:
            record, field = self.fields[path]
            nominal = getattr(self.records[record], field)
            deviates = self.distributions[path].draw(generator, self.width(path))
            if self.width(path) == 1:
                values.append(float(nominal) + float(deviates[0]))
            else:
                values += [float(a) + float(b) for a, b in zip(nominal, deviates)]
        return values

    def config(self, values: list[float]) -> Config:
        """The nominal configuration with the dispersed fields set to ``values``."""
        dispersed = {record for record, _ in self.fields.values()}
        records = {name: getattr(self.nominal, name) if name in dispersed else self.records[name]
                   for name in RECORDS}
        position = 0
        for path in self.paths:
            record, field = self.fields[path]
            width = self.width(path)
            chunk = values[position:position + width]
            setattr(records[record], field, chunk[0] if width == 1 else chunk)
            position += width
        return Config(**records)

def non_negative_integer(name: str, value) -> int:
    """``value`` as an int: a study's seed (for `numpy.random.SeedSequence`) or run count."""
    if isinstance(value, bool) or not isinstance(value, numbers.Integral):
        raise TypeError(f"{name} must be a non-negative integer, not {type(value).__name__}")
    if value < 0:
        raise ValueError(f"{name} must be a non-negative integer, got {value}")
    return int(value)
