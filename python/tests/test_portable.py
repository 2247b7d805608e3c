"""Configurations through the portable form, the engine, pickles and copies: every field bit
for bit, NaN payloads, infinities and -0.0 included."""

import copy
import math
import pickle
import random
import struct

import pytest

from landing_checks import config_bits, value_bits
from tarvo import Config, Environment, Solver, Spacecraft, _engine
from tarvo._pickling import register
from tarvo._portable import FIELDS, from_portable, to_portable

nan, inf = math.nan, math.inf


SPECIAL = [nan, -nan, inf, -inf, 0.0, -0.0, 5e-324,
           struct.unpack("<d", struct.pack("<Q", 0x7FF0000000000001))[0],  # signalling NaN
           struct.unpack("<d", struct.pack("<Q", 0xFFF8DEADBEEF0001))[0]]  # negative NaN, payload


def random_config(rng):
    def double():
        return rng.choice(SPECIAL) if rng.random() < 0.3 else struct.unpack("<d", rng.randbytes(8))[0]

    def optional():
        return None if rng.random() < 0.3 else double()

    def vector():
        return [double() for _ in range(3)]

    return Config(
        Spacecraft(*[double() for _ in range(6)], *[vector() for _ in range(4)], double()),
        Environment(vector(), double(), double()),
        Solver(rng.getrandbits(64), optional(), optional(), optional()),
    )


CONFIGS = [random_config(random.Random(seed)) for seed in range(40)]
PROTOCOLS = range(pickle.HIGHEST_PROTOCOL + 1)


def test_bit_patterns_survive_the_portable_form_and_the_engine():
    for config, landing in zip(CONFIGS, _engine.plan_batch(CONFIGS)):
        assert config_bits(from_portable(to_portable(config))) == config_bits(config)
        assert config_bits(landing.config) == config_bits(config)


def record_bits(record):
    """The fields of any configuration record, floats as bit patterns."""
    base = next(cls for cls in type(record).__mro__ if cls in FIELDS)
    values = (getattr(record, name) for name in FIELDS[base])
    return tuple(record_bits(v) if type(v) in FIELDS else value_bits(v) for v in values)


class HeavySpacecraft(Spacecraft):
    """A user's subclass with its own constructor and instance data."""

    def __new__(cls, *args, tag="", **kwargs):
        return super().__new__(cls, *args, **kwargs)

    def __init__(self, *args, tag="", **kwargs):
        self.tag = tag


@pytest.mark.parametrize("protocol", PROTOCOLS)
def test_every_class_pickles_and_copies_exactly(protocol):
    for config in CONFIGS[:10]:
        for record in (config, config.spacecraft, config.environment, config.solver):
            for copied in (pickle.loads(pickle.dumps(record, protocol)), copy.copy(record),
                           copy.deepcopy(record)):
                assert type(copied) is type(record) and copied is not record
                assert record_bits(copied) == record_bits(record)


def test_subclass_pickles_once_registered():
    class Unregistered(Spacecraft):
        pass

    with pytest.raises(TypeError, match="cannot pickle"):
        pickle.dumps(Unregistered())
    # Registered, a subclass keeps its class and instance dictionary.
    register(HeavySpacecraft)
    craft = HeavySpacecraft(wet_mass=-0.0, initial_position=[nan, 1.0, inf], tag="heavy")
    for copied in [*(pickle.loads(pickle.dumps(craft, p)) for p in PROTOCOLS), copy.deepcopy(craft)]:
        assert type(copied) is HeavySpacecraft and copied.tag == "heavy"
        assert record_bits(copied) == record_bits(craft)
    with pytest.raises(TypeError, match="not a configuration class"):
        register(int)
