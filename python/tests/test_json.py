import math
import random

import pytest

from conftest import bits
from tarvo import Config, Environment, Solver, Spacecraft

DEFAULT_DOCUMENT = """{
  "spacecraft": {
    "wet_mass": 2000.0,
    "fuel": 1700.0,
    "real_max_thrust": 24000.0,
    "min_thrust_pct": 0.2,
    "max_thrust_pct": 0.8,
    "max_velocity": 1000.0,
    "initial_position": [
      450.0,
      -330.0,
      2400.0
    ],
    "initial_velocity": [
      -40.0,
      10.0,
      -10.0
    ],
    "target_velocity": [
      0.0,
      0.0,
      0.0
    ],
    "target_position": [
      0.0,
      0.0,
      0.0
    ],
    "fuel_consumption": 0.0005
  },
  "environment": {
    "gravity": [
      0.0,
      0.0,
      -3.71
    ],
    "glide_slope_angle_deg": 0.0,
    "max_angle_deg": 90.0
  },
  "solver": {
    "n": 100,
    "time_of_flight": null,
    "tof_min": null,
    "tof_max": null
  }
}"""

SCALARS = ["wet_mass", "fuel", "real_max_thrust", "min_thrust_pct", "max_thrust_pct",
           "max_velocity", "fuel_consumption"]
VECTORS = ["initial_position", "initial_velocity", "target_velocity", "target_position"]


def flat(config):
    """Every field of a configuration as a list of (name, value), floats as bit patterns."""
    out = []
    for record in (config.spacecraft, config.environment, config.solver):
        for name in dir(type(record)):
            if name.startswith("_"):
                continue
            value = getattr(record, name)
            if isinstance(value, list):
                value = [bits(x) for x in value]
            elif isinstance(value, float):
                value = bits(value)
            out.append((name, value))
    return out


def random_double(rng):
    kind = rng.randrange(4)
    if kind == 0:
        return rng.uniform(-1e4, 1e4)
    if kind == 1:
        return math.ldexp(rng.random(), rng.randrange(-1074, 1024)) * rng.choice([-1, 1])
    if kind == 2:
        return rng.choice([0.0, -0.0, 5e-324, 1.7976931348623157e308, 2.2250738585072014e-308,
                           0.1 + 0.2, 1e16, 1e15, 1e-5, 1e-6, 123456789012345680.0])
    return float(rng.randrange(-10**6, 10**6))


def random_config(rng):
    vector = lambda: [random_double(rng) for _ in range(3)]
    craft = Spacecraft(*[random_double(rng) for _ in range(6)], vector(), vector(), vector(), vector(),
                       random_double(rng))
    env = Environment(vector(), random_double(rng), random_double(rng))
    optional = lambda: rng.choice([None, random_double(rng)])
    solver = Solver(rng.choice([0, 1, 100, 2**64 - 1, rng.randrange(2**64)]), optional(), optional(), optional())
    return Config(craft, env, solver)


class TestWriting:
    def test_default_document_is_exact(self):
        text = Config().to_json()
        assert text == DEFAULT_DOCUMENT
        assert len(text.split("\n")) == 46 and not text.endswith("\n")

    @pytest.mark.parametrize("value, text", [
        (2000.0, "2000.0"), (100.0, "100.0"), (0.0, "0.0"), (-0.0, "-0.0"), (3.71, "3.71"),
        (-123.456, "-123.456"), (0.2, "0.2"), (0.0005, "0.0005"), (1e-5, "0.00001"), (1e-6, "1e-6"),
        (1.5e-7, "1.5e-7"), (1e15, "1000000000000000.0"), (1e16, "1e+16"), (1.25e17, "1.25e+17"),
        (0.1 + 0.2, "0.30000000000000004"), (1.7976931348623157e308, "1.7976931348623157e+308"),
        (5e-324, "5e-324"), (math.nan, "null"), (math.inf, "null"), (-math.inf, "null"),
    ])
    def test_number_formatting(self, value, text):
        document = Config(spacecraft=Spacecraft(wet_mass=value)).to_json()
        assert f'\n    "wet_mass": {text},\n' in document

    @pytest.mark.parametrize("value, text", [(0, "0"), (7, "7"), (2**64 - 1, "18446744073709551615")])
    def test_n_is_plain_digits(self, value, text):
        assert f'"n": {text},' in Config(solver=Solver(n=value)).to_json()

    @pytest.mark.parametrize("value, text", [(12, "12.0"), (None, "null"), (math.nan, "null"),
                                             (-math.inf, "null")])
    def test_optional_double(self, value, text):
        assert f'"time_of_flight": {text},' in Config(solver=Solver(time_of_flight=value)).to_json()


class TestRoundTrip:
    def test_default_document_reads_as_defaults(self):
        assert flat(Config.from_json(DEFAULT_DOCUMENT)) == flat(Config())

    def test_random_finite_configurations_round_trip_bit_for_bit(self):
        rng = random.Random(20261206)
        for _ in range(200):
            config = random_config(rng)
            again = Config.from_json(config.to_json())
            assert flat(again) == flat(config)
            assert again.to_json() == config.to_json()

    def test_non_finite_optional_reads_back_unset(self):
        config = Config(solver=Solver(time_of_flight=math.inf, tof_min=math.nan))
        solver = Config.from_json(config.to_json()).solver
        assert solver.time_of_flight is None and solver.tof_min is None

    def test_non_finite_double_is_written_but_not_read(self):
        text = Config(spacecraft=Spacecraft(wet_mass=math.nan)).to_json()
        with pytest.raises(ValueError) as info:
            Config.from_json(text)
        assert str(info.value) == "invalid type: null, expected f64 at line 3 column 20"


class TestLenientReading:
    @pytest.mark.parametrize("text", ["{}", "[]", " \t\r\n{ }\n", "[{}, {}, {}]", "[[], [], []]",
                                      '{"spacecraft": {}, "environment": [], "solver": {}}'])
    def test_empty_forms_give_defaults(self, text):
        assert flat(Config.from_json(text)) == flat(Config())

    @pytest.mark.parametrize("text, check", [
        ('{"solver": {"n": 10}}', lambda c: c.solver.n == 10),
        ('{"spacecraft": [1000, 500]}',
         lambda c: (c.spacecraft.wet_mass, c.spacecraft.fuel, c.spacecraft.real_max_thrust)
         == (1000.0, 500.0, 24000.0)),
        ('{"comment": [1, {"a": null}], "solver": {}}', lambda c: c.solver.n == 100),
        ('{"x": 1, "x": [[[[{"y": "\\u00e9\\n"}]]]], "solver": {"n": 3, "extra": true}}',
         lambda c: c.solver.n == 3),
        ('{"solver": {"tof_max": 5, "n": 2, "time_of_flight": null, "tof_min": 1.5e1}}',
         lambda c: (c.solver.n, c.solver.time_of_flight, c.solver.tof_min, c.solver.tof_max)
         == (2, None, 15.0, 5.0)),
        ('{"solver": {"time_of_flight": 12}}', lambda c: type(c.solver.time_of_flight) is float
         and c.solver.time_of_flight == 12.0),
        ('{"solver": {"n": 18446744073709551615}}', lambda c: c.solver.n == 2**64 - 1),
        ('{"environment": {"gravity": [1, -2e0, 0.5]}}', lambda c: c.environment.gravity == [1.0, -2.0, 0.5]),
        ('[[], [[0, 0, -1.62]], [50]]',
         lambda c: c.environment.gravity == [0.0, 0.0, -1.62] and c.solver.n == 50),
        ('{"spacecraft": {"wet_mass": 0.1000000000000000055511151231257827}}',
         lambda c: c.spacecraft.wet_mass == 0.1),
        ('{"spacecraft": {"fuel": -0}}', lambda c: c.spacecraft.fuel == 0.0),
        ('{"Solver": {"n": 1}}', lambda c: c.solver.n == 100),
    ])
    def test_accepted_forms(self, text, check):
        assert check(Config.from_json(text))


# (document, exact message); positions are byte based, columns of a peeked byte are 1-based.
READ_ERRORS = [
    ("", "EOF while parsing a value at line 1 column 0"),
    ("   ", "EOF while parsing a value at line 1 column 3"),
    ("{} x", "trailing characters at line 1 column 4"),
    ("5", "invalid type: integer `5`, expected struct Config at line 1 column 1"),
    ("null", "invalid type: null, expected struct Config at line 1 column 4"),
    ('"x"', 'invalid type: string "x", expected struct Config at line 1 column 3'),
    ("x", "expected value at line 1 column 1"),
    ("{", "EOF while parsing an object at line 1 column 1"),
    ("[", "EOF while parsing a list at line 1 column 1"),
    ('{"a', "EOF while parsing a string at line 1 column 3"),
    ('{"solver": {}, "solver": {}}', "duplicate field `solver` at line 1 column 23"),
    ('{"solver": {"n": 1, "n": 2}}', "duplicate field `n` at line 1 column 23"),
    ('{"solver": {"n": 100.0}}', "invalid type: floating point `100.0`, expected usize at line 1 column 22"),
    ('{"solver": {"n": 1e3}}', "invalid type: floating point `1000.0`, expected usize at line 1 column 20"),
    ('{"solver": {"n": 18446744073709551616}}',
     "invalid type: floating point `1.8446744073709552e+19`, expected usize at line 1 column 37"),
    ('{"solver": {"n": -1}}', "invalid value: integer `-1`, expected usize at line 1 column 19"),
    ('{"solver": {"n": "5"}}', 'invalid type: string "5", expected usize at line 1 column 20'),
    ('{"solver": {"n": null}}', "invalid type: null, expected usize at line 1 column 21"),
    ('{"solver": {"time_of_flight": true}}', "invalid type: boolean `true`, expected f64 at line 1 column 34"),
    ('{"spacecraft": {"wet_mass": null}}', "invalid type: null, expected f64 at line 1 column 32"),
    ('{"spacecraft": {"wet_mass": "x"}}', 'invalid type: string "x", expected f64 at line 1 column 31'),
    ('{"spacecraft": {"wet_mass": false}}', "invalid type: boolean `false`, expected f64 at line 1 column 33"),
    ('{"spacecraft": {"wet_mass": 1e400}}', "number out of range at line 1 column 33"),
    ('{"spacecraft": 5}', "invalid type: integer `5`, expected struct Spacecraft at line 1 column 16"),
    ('{"environment": 2.5}', "invalid type: floating point `2.5`, expected struct Environment at line 1 column 19"),
    ('[1]', "invalid type: integer `1`, expected struct Spacecraft at line 1 column 2"),
    ('{"environment": {"gravity": [0, 0]}}', "invalid length 2, expected an array of length 3 at line 1 column 34"),
    ('{"environment": {"gravity": [0, 0, -3.71, 1]}}', "trailing characters at line 1 column 43"),
    ('{"spacecraft": {"initial_position": {}}}',
     "invalid type: map, expected an array of length 3 at line 1 column 36"),
    ('{"spacecraft": {"initial_position": 1}}',
     "invalid type: integer `1`, expected an array of length 3 at line 1 column 37"),
    ('{"solver": [1, null, null, null, 5]}', "trailing characters at line 1 column 34"),
    ('{"spacecraft" 1}', "expected `:` at line 1 column 15"),
    ('{"a": 1,}', "trailing comma at line 1 column 9"),
    ('{"x": [1 2]}', "expected `,` or `]` at line 1 column 10"),
    ('{"x": 1 "y": 2}', "expected `,` or `}` at line 1 column 9"),
    ('{1: 2}', "key must be a string at line 1 column 2"),
    ('{\n  "solver": x\n}', "expected value at line 2 column 13"),
    ('{\n  "solver": {"n": 10,}\n}', "trailing comma at line 2 column 22"),
    ('{"s\u00e9": x}', "expected value at line 1 column 9"),
]

# Failures whose exact position is not pinned down here: only the description is checked.
READ_ERROR_DESCRIPTIONS = [
    ('{"a": tru}', "expected ident"),
    ('{"a": nul}', "expected ident"),
    ('{"a": 01}', "invalid number"),
    ('{"a": -}', "invalid number"),
    ('{"a": "\\q"}', "invalid escape"),
    ('{"a": "\x01"}', "control character (\\u0000-\\u001F) found while parsing a string"),
    ('{"\\ud800": 1}', "lone leading surrogate in hex escape"),
]


class TestReadErrors:
    @pytest.mark.parametrize("text, message", READ_ERRORS)
    def test_exact_message_and_position(self, text, message):
        with pytest.raises(ValueError) as info:
            Config.from_json(text)
        assert str(info.value) == message

    @pytest.mark.parametrize("text, description", READ_ERROR_DESCRIPTIONS)
    def test_description(self, text, description):
        with pytest.raises(ValueError) as info:
            Config.from_json(text)
        assert str(info.value).startswith(description + " at line 1 column ")

    @pytest.mark.parametrize("value, message", [
        (5, "'int' object is not an instance of 'str'"),
        (None, "'None' is not an instance of 'str'"),
        (b"{}", "'bytes' object is not an instance of 'str'"),
        (["{}"], "'list' object is not an instance of 'str'"),
    ])
    def test_non_str_argument(self, value, message):
        with pytest.raises(TypeError) as info:
            Config.from_json(value)
        assert str(info.value) == message
        assert info.value.__notes__ == ["while processing 's'"]

    def test_lone_surrogate_is_an_encoding_error(self):
        with pytest.raises(UnicodeEncodeError) as info:
            Config.from_json('{"a": "\ud800"}')
        assert info.value.__notes__ == ["while processing 's'"]

    def test_binding(self):
        with pytest.raises(TypeError) as info:
            Config.from_json()
        assert str(info.value) == "Config.from_json() missing 1 required positional argument: 's'"
        with pytest.raises(TypeError) as info:
            Config.from_json(t="{}")
        assert str(info.value) == "Config.from_json() got an unexpected keyword argument 't'"
        with pytest.raises(TypeError):
            Config.from_json("{}", "{}")
        with pytest.raises(TypeError):
            Config().to_json(1)

    def test_keyword_and_instance_calls(self):
        assert Config.from_json(s='{"solver": {"n": 9}}').solver.n == 9
        assert type(Config(solver=Solver(n=1)).from_json("{}")) is Config
        assert Config(solver=Solver(n=1)).from_json("{}").solver.n == 100
