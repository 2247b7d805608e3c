import math
import random
import sys

import pytest

from conftest import bits, raised
from tarvo import Config, Environment, Solver, Spacecraft


def flat(config):
    """Every field of a configuration as (name, value) pairs, floats as bit patterns."""
    out = []
    for record in (config.spacecraft, config.environment, config.solver):
        for name in (n for n in dir(type(record)) if not n.startswith("_")):
            value = getattr(record, name)
            if isinstance(value, list):
                value = [bits(x) for x in value]
            elif isinstance(value, float):
                value = bits(value)
            out.append((name, value))
    return out


def random_double(rng):
    special = [0.0, -0.0, 5e-324, 1.7976931348623157e308, 0.1 + 0.2, 1e16, 1e-6, 123456789012345680.0]
    return rng.choice([rng.uniform(-1e4, 1e4), rng.choice(special),
                       math.ldexp(rng.random(), rng.randrange(-1074, 1024)) * rng.choice([-1, 1])])


def random_config(rng):
    vector = lambda: [random_double(rng) for _ in range(3)]
    optional = lambda: rng.choice([None, random_double(rng)])
    return Config(
        Spacecraft(*[random_double(rng) for _ in range(6)], vector(), vector(), vector(), vector(),
                   random_double(rng)),
        Environment(vector(), random_double(rng), random_double(rng)),
        Solver(rng.choice([0, 1, 2**64 - 1, rng.randrange(2**64)]), optional(), optional(), optional()))


class TestMethods:
    def test_signatures(self):
        assert Config.to_json.__text_signature__ == "($self)"
        assert Config.from_json.__text_signature__ == "(s)"

    def test_random_configurations_round_trip_bit_for_bit(self):
        rng = random.Random(20261206)
        for _ in range(100):
            config = random_config(rng)
            again = Config.from_json(config.to_json())
            assert flat(again) == flat(config)
            assert again.to_json() == config.to_json()

    def test_static_method_through_keyword_and_instance(self):
        assert Config.from_json(s='{"solver": {"n": 9}}').solver.n == 9
        loaded = Config(solver=Solver(n=1)).from_json("{}")
        assert type(loaded) is Config and loaded.solver.n == 100

    @pytest.mark.parametrize("call, message", [
        (lambda: Config.from_json(), "Config.from_json() missing 1 required positional argument: 's'"),
        (lambda: Config.from_json(t="{}"), "Config.from_json() got an unexpected keyword argument 't'"),
        (lambda: Config.from_json("{}", "{}"), None),
        (lambda: Config().to_json(1), None),
    ])
    def test_binding_errors(self, call, message):
        error = raised(call)
        assert type(error) is TypeError and (message is None or str(error) == message)


class TestReadErrors:
    # The core pins every failure and its position; here only how the message is composed.
    @pytest.mark.parametrize("text, message", [
        ('{\n  "solver": {"n": 10,}\n}', "trailing comma at line 2 column 22"),
        ('"\u00e9t\u00e9"', 'invalid type: string "\u00e9t\u00e9", expected struct Config at line 1 column 7'),
    ])
    def test_message_carries_line_and_column(self, text, message):
        error = raised(lambda: Config.from_json(text))
        assert type(error) is ValueError and str(error) == message

    def test_failing_argument_keeps_its_reference_count(self):
        text = "".join(["{", "} x"])  # a fresh, uninterned string
        before = sys.getrefcount(text)
        for _ in range(20):
            with pytest.raises(ValueError):
                Config.from_json(text)
        assert sys.getrefcount(text) == before

    @pytest.mark.parametrize("value, message", [
        (5, "'int' object is not an instance of 'str'"),
        (None, "'None' is not an instance of 'str'"),
        (b"{}", "'bytes' object is not an instance of 'str'"),
    ])
    def test_non_str_argument(self, value, message):
        error = raised(lambda: Config.from_json(value))
        assert type(error) is TypeError and str(error) == message
        assert error.__notes__ == ["while processing 's'"]

    def test_lone_surrogate_is_an_encoding_error(self):
        error = raised(lambda: Config.from_json('{"a": "\ud800"}'))
        assert type(error) is UnicodeEncodeError and error.__notes__ == ["while processing 's'"]
