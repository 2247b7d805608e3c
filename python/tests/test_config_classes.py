import math

import numpy as np
import pytest

from conftest import bits
from tarvo import Config, Environment, Solver, Spacecraft

SPACECRAFT_DEFAULTS = {
    "wet_mass": 2000.0,
    "fuel": 1700.0,
    "real_max_thrust": 24000.0,
    "min_thrust_pct": 0.2,
    "max_thrust_pct": 0.8,
    "max_velocity": 1000.0,
    "initial_position": [450.0, -330.0, 2400.0],
    "initial_velocity": [-40.0, 10.0, -10.0],
    "target_velocity": [0.0, 0.0, 0.0],
    "target_position": [0.0, 0.0, 0.0],
    "fuel_consumption": 0.0005,
}
ENVIRONMENT_DEFAULTS = {
    "gravity": [0.0, 0.0, -3.71],
    "glide_slope_angle_deg": 0.0,
    "max_angle_deg": 90.0,
}
SOLVER_DEFAULTS = {"n": 100, "time_of_flight": None, "tof_min": None, "tof_max": None}
DEFAULTS = {Spacecraft: SPACECRAFT_DEFAULTS, Environment: ENVIRONMENT_DEFAULTS, Solver: SOLVER_DEFAULTS}

VECTOR_FIELDS = [(Spacecraft, f) for f in
                 ("initial_position", "initial_velocity", "target_velocity", "target_position")]
VECTOR_FIELDS.append((Environment, "gravity"))
DOUBLE_FIELDS = [(Spacecraft, f) for f, v in SPACECRAFT_DEFAULTS.items() if isinstance(v, float)]
DOUBLE_FIELDS += [(Environment, "glide_slope_angle_deg"), (Environment, "max_angle_deg")]
OPTIONAL_FIELDS = [(Solver, f) for f in ("time_of_flight", "tof_min", "tof_max")]
RECORD_FIELDS = [(Config, "spacecraft", Spacecraft), (Config, "environment", Environment),
                 (Config, "solver", Solver)]
ALL_PROPERTIES = ([(cls, f) for cls, table in DEFAULTS.items() for f in table]
                  + [(Config, f) for _, f, _ in RECORD_FIELDS])


def same_value(a, b):
    """Exact equality, bit for bit for floats, element-wise for lists."""
    if isinstance(a, list):
        return isinstance(b, list) and len(a) == len(b) and all(map(same_value, a, b))
    if isinstance(a, float):
        return type(b) is float and bits(a) == bits(b)
    return type(a) is type(b) and a == b


def record_values(obj):
    return {name: getattr(obj, name) for name in DEFAULTS[type(obj)]}


def error_of(call):
    with pytest.raises(BaseException) as info:
        call()
    return info.value


def notes_of(error):
    return getattr(error, "__notes__", [])


class TestDefaults:
    @pytest.mark.parametrize("cls", [Spacecraft, Environment, Solver])
    def test_every_field_has_its_exact_default(self, cls):
        obj = cls()
        for name, expected in DEFAULTS[cls].items():
            assert same_value(expected, getattr(obj, name)), name

    def test_config_holds_default_records(self):
        config = Config()
        explicit = Config(Spacecraft(), Environment(), Solver())
        for _, name, _ in RECORD_FIELDS:
            assert record_values(getattr(config, name)) == record_values(getattr(explicit, name))
        for name, cls in (("spacecraft", Spacecraft), ("environment", Environment), ("solver", Solver)):
            sub = getattr(config, name)
            assert type(sub) is cls
            assert all(same_value(v, getattr(sub, k)) for k, v in DEFAULTS[cls].items())

    def test_inexact_decimals_are_the_nearest_doubles(self):
        assert Spacecraft().fuel_consumption.hex() == (0.0005).hex()
        assert Environment().gravity[2].hex() == (-3.71).hex()


class TestConstruction:
    def test_positional_arguments_follow_declaration_order(self):
        craft = Spacecraft(1, 2)
        assert same_value(craft.wet_mass, 1.0) and same_value(craft.fuel, 2.0)
        assert craft.real_max_thrust == 24000.0 and craft.initial_position == [450.0, -330.0, 2400.0]

    @pytest.mark.parametrize("cls", [Spacecraft, Environment, Solver])
    def test_all_positional_equals_all_keyword(self, cls):
        values = {}
        for i, (name, default) in enumerate(DEFAULTS[cls].items()):
            if isinstance(default, list):
                values[name] = [i + 0.5, -i, 3.0]
            elif name == "n":
                values[name] = 7
            else:
                values[name] = i + 0.25
        by_position = cls(*values.values())
        by_keyword = cls(**values)
        for name, value in values.items():
            expected = [float(x) for x in value] if isinstance(value, list) else value
            assert getattr(by_position, name) == expected == getattr(by_keyword, name), name

    def test_config_sub_records_positionally_and_by_keyword(self):
        parts = (Spacecraft(wet_mass=1.0), Environment(max_angle_deg=5.0), Solver(n=3))
        for config in (Config(*parts), Config(spacecraft=parts[0], environment=parts[1], solver=parts[2])):
            assert config.spacecraft.wet_mass == 1.0
            assert config.environment.max_angle_deg == 5.0
            assert config.solver.n == 3

    @pytest.mark.parametrize("value", [-1.0, 0.0, -0.0, math.inf, -math.inf, 1e308, 5e-324])
    def test_doubles_are_stored_unvalidated(self, value):
        craft = Spacecraft(wet_mass=value, initial_position=[value, value, value])
        assert bits(craft.wet_mass) == bits(value)
        assert [bits(x) for x in craft.initial_position] == [bits(value)] * 3

    def test_nan_is_stored(self):
        craft = Spacecraft(fuel=math.nan)
        assert math.isnan(craft.fuel)
        assert math.isnan(Solver(time_of_flight=math.nan).time_of_flight)

    def test_n_zero_and_largest_are_stored(self):
        assert Solver(n=0).n == 0
        assert Solver(n=2**64 - 1).n == 2**64 - 1


class Floaty:
    def __float__(self):
        return 2.5


class Indexy:
    def __index__(self):
        return 7


class TestConversion:
    @pytest.mark.parametrize("value, expected", [
        (3, 3.0),
        (True, 1.0),
        (-1, -1.0),
        (-1.0, -1.0),
        (np.float64(0.1), 0.1),
        (np.float32(0.1), float(np.float32(0.1))),
        (np.int64(-12), -12.0),
        (Floaty(), 2.5),
        (Indexy(), 7.0),
        (2**70, float(2**70)),
    ])
    def test_double_accepts_float_convertibles(self, value, expected):
        craft = Spacecraft(max_velocity=value)
        assert same_value(craft.max_velocity, expected)
        craft.fuel = value
        assert same_value(craft.fuel, expected)

    @pytest.mark.parametrize("value, expected", [
        ((1, 2, 3), [1.0, 2.0, 3.0]),
        ([0.5, -0.5, True], [0.5, -0.5, 1.0]),
        (np.array([1.5, 2.5, 3.5]), [1.5, 2.5, 3.5]),
        (np.arange(3, dtype=np.int32), [0.0, 1.0, 2.0]),
        (range(4, 7), [4.0, 5.0, 6.0]),
        ((Floaty(), Indexy(), np.float64(-1.0)), [2.5, 7.0, -1.0]),
    ])
    def test_vector_accepts_sequences(self, value, expected):
        craft = Spacecraft(initial_position=value)
        assert same_value(craft.initial_position, expected)
        env = Environment()
        env.gravity = value
        assert same_value(env.gravity, expected)

    @pytest.mark.parametrize("value, expected", [
        (5, 5), (True, 1), (np.uint64(2**64 - 1), 2**64 - 1), (np.int8(3), 3), (Indexy(), 7),
    ])
    def test_n_accepts_index_objects(self, value, expected):
        solver = Solver(n=value)
        assert solver.n == expected and type(solver.n) is int

    @pytest.mark.parametrize("name", ["time_of_flight", "tof_min", "tof_max"])
    def test_optional_set_and_unset(self, name):
        solver = Solver(**{name: 10})
        assert same_value(getattr(solver, name), 10.0)
        setattr(solver, name, None)
        assert getattr(solver, name) is None
        setattr(solver, name, np.float64(2.5))
        assert same_value(getattr(solver, name), 2.5)
        assert Solver(**{name: None}).__getattribute__(name) is None


class Holder:
    class NotASequence:
        pass


class FailsOnSecond:
    def __len__(self):
        return 3

    def __getitem__(self, index):
        if index == 1:
            raise KeyError("element 1")
        return 1.0


class Unsized:
    def __getitem__(self, index):
        return 1.0


# (class, field, bad value, exception type, exact message or None for the interpreter's own)
CONVERSION_ERRORS = [
    (Spacecraft, "wet_mass", "2000", TypeError, None),
    (Spacecraft, "fuel", None, TypeError, None),
    (Spacecraft, "fuel_consumption", [1.0], TypeError, None),
    (Environment, "max_angle_deg", object(), TypeError, None),
    (Spacecraft, "initial_position", [1, 2], ValueError, "expected a sequence of length 3 (got 2)"),
    (Spacecraft, "target_position", [], ValueError, "expected a sequence of length 3 (got 0)"),
    (Environment, "gravity", np.zeros(4), ValueError, "expected a sequence of length 3 (got 4)"),
    (Spacecraft, "initial_velocity", "abcd", ValueError, "expected a sequence of length 3 (got 4)"),
    (Spacecraft, "initial_position", 5, TypeError, "'int' object is not an instance of 'Sequence'"),
    (Spacecraft, "target_velocity", None, TypeError, "'None' is not an instance of 'Sequence'"),
    (Environment, "gravity", {0: 1, 1: 2, 2: 3}, TypeError, "'dict' object is not an instance of 'Sequence'"),
    (Environment, "gravity", {1.0, 2.0, 3.0}, TypeError, "'set' object is not an instance of 'Sequence'"),
    (Environment, "gravity", Holder.NotASequence(), TypeError,
     "'Holder.NotASequence' object is not an instance of 'Sequence'"),
    (Spacecraft, "initial_position", "123", TypeError, None),
    (Spacecraft, "initial_position", [1.0, "2", 3.0], TypeError, None),
    (Spacecraft, "initial_position", FailsOnSecond(), KeyError, None),
    (Spacecraft, "initial_position", Unsized(), TypeError, None),
    (Solver, "n", -1, OverflowError, None),
    (Solver, "n", 2**64, OverflowError, None),
    (Solver, "n", 2.5, TypeError, None),
    (Solver, "n", "5", TypeError, None),
    (Solver, "n", None, TypeError, None),
    (Solver, "time_of_flight", "1", TypeError, None),
    (Solver, "tof_max", [], TypeError, None),
    (Config, "spacecraft", None, TypeError, "'None' is not an instance of 'Spacecraft'"),
    (Config, "environment", Solver(), TypeError, "'Solver' object is not an instance of 'Environment'"),
    (Config, "solver", {"n": 5}, TypeError, "'dict' object is not an instance of 'Solver'"),
    (Config, "spacecraft", Config(), TypeError, "'Config' object is not an instance of 'Spacecraft'"),
]


class TestConversionErrors:
    @pytest.mark.parametrize("cls, name, value, kind, message", CONVERSION_ERRORS)
    def test_constructor_raises_with_note(self, cls, name, value, kind, message):
        error = error_of(lambda: cls(**{name: value}))
        assert type(error) is kind
        if message is not None:
            assert str(error) == message
        assert notes_of(error) == [f"while processing '{name}'"]

    @pytest.mark.parametrize("cls, name, value, kind, message", CONVERSION_ERRORS)
    def test_failed_assignment_raises_and_changes_nothing(self, cls, name, value, kind, message):
        obj = cls()
        before = getattr(obj, name)
        error = error_of(lambda: setattr(obj, name, value))
        assert type(error) is kind
        if message is not None:
            assert str(error) == message
        assert notes_of(error) == [f"while processing '{name}'"]
        after = getattr(obj, name)
        if cls is Config:
            assert record_values(after) == record_values(before)
        else:
            assert same_value(before, after)

    def test_first_failing_parameter_is_named(self):
        error = error_of(lambda: Spacecraft(wet_mass="x", fuel="y"))
        assert notes_of(error) == ["while processing 'wet_mass'"]

    @pytest.mark.parametrize("cls, max_positional", [
        (Spacecraft, 11), (Environment, 3), (Solver, 4), (Config, 3)])
    def test_binding_errors_name_new(self, cls, max_positional):
        name = cls.__name__
        first = next(iter(DEFAULTS.get(cls, {"spacecraft": None})))
        cases = [
            (lambda: cls(*([0] * (max_positional + 1))),
             f"{name}.__new__() takes from 0 to {max_positional} positional arguments"
             f" but {max_positional + 1} were given"),
            (lambda: cls(bogus=1), f"{name}.__new__() got an unexpected keyword argument 'bogus'"),
            (lambda: cls(None, **{first: None}),
             f"{name}.__new__() got multiple values for argument '{first}'"),
        ]
        for call, message in cases:
            error = error_of(call)
            assert type(error) is TypeError and str(error) == message


class TestCopySemantics:
    def test_config_copies_sub_record_at_construction(self):
        craft = Spacecraft()
        config = Config(spacecraft=craft)
        craft.wet_mass = 1.0
        assert config.spacecraft.wet_mass == 2000.0

    def test_config_copies_sub_record_at_assignment(self):
        config = Config()
        solver = Solver(n=5)
        config.solver = solver
        solver.n = 6
        assert config.solver.n == 5

    @pytest.mark.parametrize("name, cls", [(n, c) for _, n, c in RECORD_FIELDS])
    def test_sub_record_read_is_a_fresh_copy(self, name, cls):
        config = Config()
        first, second = getattr(config, name), getattr(config, name)
        assert first is not second and type(first) is cls
        field = next(iter(DEFAULTS[cls]))
        setattr(first, field, [1, 2, 3] if isinstance(getattr(first, field), list) else 1)
        assert same_value(getattr(getattr(config, name), field), DEFAULTS[cls][field])

    def test_sub_record_subclasses_are_copied_as_records(self):
        try:
            heavy = type("HeavySpacecraft", (Spacecraft,), {})
        except TypeError:
            pytest.skip("Spacecraft cannot be subclassed")
        config = Config(spacecraft=heavy(wet_mass=5000.0))
        assert type(config.spacecraft) is Spacecraft and config.spacecraft.wet_mass == 5000.0

    def test_read_modify_write_back_changes_the_config(self):
        config = Config()
        craft = config.spacecraft
        craft.fuel = 123.0
        config.spacecraft = craft
        assert config.spacecraft.fuel == 123.0

    @pytest.mark.parametrize("cls, name", VECTOR_FIELDS)
    def test_vector_read_is_a_fresh_list(self, cls, name):
        obj = cls()
        vector = getattr(obj, name)
        assert type(vector) is list and vector is not getattr(obj, name)
        vector[0] = 99.0
        vector.append(1.0)
        assert same_value(getattr(obj, name), DEFAULTS[cls][name])

    def test_vector_source_changes_do_not_reach_the_record(self):
        source_list, source_array = [1.0, 2.0, 3.0], np.array([4.0, 5.0, 6.0])
        craft = Spacecraft(initial_position=source_list, initial_velocity=source_array)
        source_list[0] = source_array[0] = -7.0
        assert craft.initial_position == [1.0, 2.0, 3.0]
        assert craft.initial_velocity == [4.0, 5.0, 6.0]

    def test_objects_are_independent(self):
        a, b = Solver(), Solver()
        a.n = 1
        assert b.n == 100 and Solver().n == 100


class TestProperties:
    @pytest.mark.parametrize("cls, name", ALL_PROPERTIES)
    def test_delete_is_refused_and_changes_nothing(self, cls, name):
        obj = cls(**({"n": 3} if cls is Solver else {}))
        before = getattr(obj, name)
        error = error_of(lambda: delattr(obj, name))
        assert type(error) is AttributeError and str(error) == "property has no deleter"
        after = getattr(obj, name)
        assert record_values(after) == record_values(before) if cls is Config else same_value(before, after)

    def test_property_count_and_order(self):
        for cls, table in DEFAULTS.items():
            declared = [k for k, v in vars(cls).items() if type(v).__name__ == "getset_descriptor"]
            assert declared == list(table)
        declared = [k for k, v in vars(Config).items() if type(v).__name__ == "getset_descriptor"]
        assert declared == ["spacecraft", "environment", "solver"]

    def test_solver_time_property_docs(self):
        assert Solver.tof_min.__doc__ == "Lower bound for the time-of-flight search. `None` ⇒ auto-bracket."
        assert Solver.tof_max.__doc__ == "Upper bound for the time-of-flight search. `None` ⇒ auto-bracket."
        lines = Solver.time_of_flight.__doc__.split("\n")
        assert len(lines) == 2
        assert lines[0] == "Discretization horizon. `None` ⇒ `solve` searches for the fuel-optimal"
        assert lines[1].startswith("time-of-flight") and "([" in lines[1] and "])" in lines[1]

    @pytest.mark.parametrize("cls, name", [p for p in ALL_PROPERTIES if p[0] is not Solver or p[1] == "n"])
    def test_other_properties_have_no_doc(self, cls, name):
        assert vars(cls)[name].__doc__ is None

    @pytest.mark.parametrize("cls, signature", [
        (Spacecraft, "(wet_mass=2000.0, fuel=1700.0, real_max_thrust=24000.0, min_thrust_pct=0.2,"
                     " max_thrust_pct=0.8, max_velocity=1000.0, initial_position=...,"
                     " initial_velocity=..., target_velocity=..., target_position=...,"
                     " fuel_consumption=5e-4)"),
        (Environment, "(gravity=..., glide_slope_angle_deg=0.0, max_angle_deg=90.0)"),
        (Solver, "(n=100, time_of_flight=None, tof_min=None, tof_max=None)"),
        (Config, "(spacecraft=..., environment=..., solver=...)"),
    ])
    def test_class_text_signature_and_empty_doc(self, cls, signature):
        assert cls.__text_signature__ == signature
        assert not cls.__doc__

    def test_json_method_signatures(self):
        assert Config.to_json.__text_signature__ == "($self)"
        assert Config.from_json.__text_signature__ == "(s)"
