import ast
import math
import pathlib
import sys

import numpy as np
import pytest

import tarvo
from conftest import bits, raised
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
ENVIRONMENT_DEFAULTS = {"gravity": [0.0, 0.0, -3.71], "glide_slope_angle_deg": 0.0, "max_angle_deg": 90.0}
SOLVER_DEFAULTS = {"n": 100, "time_of_flight": None, "tof_min": None, "tof_max": None}
CONFIG_DEFAULTS = {"spacecraft": Spacecraft, "environment": Environment, "solver": Solver}
DEFAULTS = {Spacecraft: SPACECRAFT_DEFAULTS, Environment: ENVIRONMENT_DEFAULTS, Solver: SOLVER_DEFAULTS}
ALL_PROPERTIES = [(cls, name) for cls, table in DEFAULTS.items() for name in table]
ALL_PROPERTIES += [(Config, name) for name in CONFIG_DEFAULTS]


def same_value(a, b):
    """Exact equality: bit for bit for floats, element-wise for lists, records field by field."""
    if isinstance(a, list):
        return isinstance(b, list) and len(a) == len(b) and all(map(same_value, a, b))
    if isinstance(a, float):
        return type(b) is float and bits(a) == bits(b)
    if type(a) in DEFAULTS:
        return type(b) is type(a) and all(same_value(getattr(a, k), getattr(b, k)) for k in DEFAULTS[type(a)])
    return type(a) is type(b) and a == b


def declared_properties(cls):
    return [k for k, v in vars(cls).items() if type(v).__name__ == "getset_descriptor"]


def stub_class(name):
    """From the hand-written type stub: the class's properties, their setters and the
    parameters of its __new__, each in the order written."""
    stub = ast.parse(pathlib.Path(tarvo.__file__).with_name("_tarvo.pyi").read_text())
    body = next(node.body for node in stub.body if isinstance(node, ast.ClassDef) and node.name == name)
    functions = [node for node in body if isinstance(node, ast.FunctionDef)]
    decorators = lambda f: [ast.unparse(d) for d in f.decorator_list]
    properties = [f.name for f in functions if "property" in decorators(f)]
    setters = [f.name for f in functions if f"{f.name}.setter" in decorators(f)]
    parameters = [a.arg for f in functions if f.name == "__new__" for a in f.args.args[1:]]
    return properties, setters, parameters


class TestSurface:
    @pytest.mark.parametrize("cls", [Spacecraft, Environment, Solver])
    def test_every_field_has_its_exact_default(self, cls):
        obj = cls()
        for name, expected in DEFAULTS[cls].items():
            assert same_value(expected, getattr(obj, name)), name

    @pytest.mark.parametrize("cls", [Spacecraft, Environment, Solver, Config])
    def test_property_order_and_the_type_stub_follow_it(self, cls):
        properties, setters, parameters = stub_class(cls.__name__)
        expected = list(DEFAULTS.get(cls, CONFIG_DEFAULTS))
        assert properties == setters == parameters == declared_properties(cls) == expected

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

    def test_only_the_time_properties_are_documented(self):
        assert Solver.tof_min.__doc__ == "Lower bound for the time-of-flight search. `None` ⇒ auto-bracket."
        assert Solver.tof_max.__doc__ == "Upper bound for the time-of-flight search. `None` ⇒ auto-bracket."
        lines = Solver.time_of_flight.__doc__.split("\n")
        assert len(lines) == 2
        assert lines[0] == "Discretization horizon. `None` ⇒ `solve` searches for the fuel-optimal"
        assert lines[1].startswith("time-of-flight") and "([" in lines[1] and "])" in lines[1]
        for cls, name in ALL_PROPERTIES:
            if cls is not Solver or name == "n":
                assert vars(cls)[name].__doc__ is None, name


class ConversionOf:
    """A value whose conversion runs `action`: it may fail or touch the object being assigned."""

    def __init__(self, action=lambda: None):
        self.action = action

    def __float__(self):
        self.action()
        return 7.0

    def __index__(self):
        self.action()
        return 7


class TestConstruction:
    @pytest.mark.parametrize("cls", [Spacecraft, Environment, Solver])
    def test_positional_arguments_follow_declaration_order(self, cls):
        values = {}
        for i, (name, default) in enumerate(DEFAULTS[cls].items()):
            values[name] = [i + 0.5, -i, 3.0] if isinstance(default, list) else 7 if name == "n" else i + 0.25
        by_position, by_keyword = cls(*values.values()), cls(**values)
        for name, value in values.items():
            expected = [float(x) for x in value] if isinstance(value, list) else value
            assert getattr(by_position, name) == expected == getattr(by_keyword, name), name

    def test_config_takes_records_positionally_and_by_keyword(self):
        parts = (Spacecraft(wet_mass=1.0), Environment(max_angle_deg=5.0), Solver(n=3))
        for config in (Config(*parts), Config(**dict(zip(CONFIG_DEFAULTS, parts)))):
            assert (config.spacecraft.wet_mass, config.environment.max_angle_deg, config.solver.n) == (1.0, 5.0, 3)

    @pytest.mark.parametrize("value", [-1.0, -0.0, math.inf, -math.inf, math.nan, 1e308, 5e-324])
    def test_doubles_are_stored_unvalidated(self, value):
        craft = Spacecraft(wet_mass=value, initial_position=[value, value, value])
        assert bits(craft.wet_mass) == bits(value)
        assert [bits(x) for x in craft.initial_position] == [bits(value)] * 3
        solver = Solver(tof_min=value)
        assert bits(solver.tof_min) == bits(value)
        solver.tof_min = None
        assert solver.tof_min is None

    @pytest.mark.parametrize("cls, name, value, expected", [
        (Spacecraft, "fuel", True, 1.0),
        (Spacecraft, "max_velocity", np.float32(0.1), float(np.float32(0.1))),
        (Environment, "max_angle_deg", ConversionOf(), 7.0),
        (Spacecraft, "wet_mass", 2**70, float(2**70)),
        (Solver, "time_of_flight", np.int64(-12), -12.0),
        (Environment, "gravity", (1, 2, 3), [1.0, 2.0, 3.0]),
        (Spacecraft, "initial_velocity", np.arange(3, dtype=np.int32), [0.0, 1.0, 2.0]),
        (Spacecraft, "target_position", range(4, 7), [4.0, 5.0, 6.0]),
        (Environment, "gravity", (ConversionOf(), np.float32(0.5), True), [7.0, 0.5, 1.0]),
        (Solver, "n", 0, 0),
        (Solver, "n", 2**64 - 1, 2**64 - 1),
        (Solver, "n", np.uint64(2**64 - 1), 2**64 - 1),
        (Solver, "n", ConversionOf(), 7),
    ])
    def test_conversions_by_constructor_and_setter(self, cls, name, value, expected):
        assigned = cls()
        setattr(assigned, name, value)
        for obj in (cls(**{name: value}), assigned):
            assert same_value(getattr(obj, name), expected)


class NotASequence:
    pass


class FailsOnSecond:
    def __len__(self):
        return 3

    def __getitem__(self, index):
        if index == 1:
            raise KeyError("element 1")
        return 1.0


# (class, field, bad value, exception type, exact message or None for the interpreter's own)
CONVERSION_ERRORS = [
    (Spacecraft, "wet_mass", "2000", TypeError, None),
    (Environment, "max_angle_deg", None, TypeError, None),
    (Spacecraft, "initial_position", [1, 2], ValueError, "expected a sequence of length 3 (got 2)"),
    (Spacecraft, "initial_velocity", "abcd", ValueError, "expected a sequence of length 3 (got 4)"),
    (Spacecraft, "initial_position", 5, TypeError, "'int' object is not an instance of 'Sequence'"),
    (Spacecraft, "target_velocity", None, TypeError, "'None' is not an instance of 'Sequence'"),
    (Environment, "gravity", {1.0, 2.0, 3.0}, TypeError, "'set' object is not an instance of 'Sequence'"),
    (Environment, "gravity", NotASequence(), TypeError, "'NotASequence' object is not an instance of 'Sequence'"),
    (Spacecraft, "initial_position", [1.0, "2", 3.0], TypeError, None),
    (Spacecraft, "initial_position", FailsOnSecond(), KeyError, None),
    (Solver, "n", -1, OverflowError, None),
    (Solver, "n", 2**64, OverflowError, None),
    (Solver, "n", 2.5, TypeError, None),
    (Solver, "tof_max", "1", TypeError, None),
    (Config, "spacecraft", None, TypeError, "'None' is not an instance of 'Spacecraft'"),
    (Config, "environment", Solver(), TypeError, "'Solver' object is not an instance of 'Environment'"),
    (Config, "solver", {"n": 5}, TypeError, "'dict' object is not an instance of 'Solver'"),
]


class TestConversionErrors:
    @pytest.mark.parametrize("how", ["constructor", "setter"])
    @pytest.mark.parametrize("cls, name, value, kind, message", CONVERSION_ERRORS)
    def test_error_names_the_field_and_changes_nothing(self, how, cls, name, value, kind, message):
        obj = cls()
        before = getattr(obj, name)
        error = raised(lambda: cls(**{name: value}) if how == "constructor" else setattr(obj, name, value))
        assert type(error) is kind
        assert message is None or str(error) == message
        assert error.__notes__ == [f"while processing '{name}'"]
        assert same_value(before, getattr(obj, name))

    def test_first_failing_parameter_is_named(self):
        assert raised(lambda: Spacecraft(wet_mass="x", fuel="y")).__notes__ == ["while processing 'wet_mass'"]

    @pytest.mark.parametrize("cls, last", [(Spacecraft, "fuel_consumption"), (Environment, "max_angle_deg"),
                                           (Solver, "tof_max"), (Config, "solver")])
    def test_binding_errors_name_new(self, cls, last):
        name, count = cls.__name__, len(DEFAULTS.get(cls, CONFIG_DEFAULTS))
        first = next(iter(DEFAULTS.get(cls, CONFIG_DEFAULTS)))
        for call, message in [
            (lambda: cls(*([0] * (count + 1))),
             f"{name}.__new__() takes from 0 to {count} positional arguments but {count + 1} were given"),
            (lambda: cls(bogus=1), f"{name}.__new__() got an unexpected keyword argument 'bogus'"),
            (lambda: cls(None, **{first: None}), f"{name}.__new__() got multiple values for argument '{first}'"),
            (lambda: cls(*([None] * count), **{last: None}),
             f"{name}.__new__() got multiple values for argument '{last}'"),
        ]:
            error = raised(call)
            assert type(error) is TypeError and str(error) == message

    def test_unencodable_keyword_name_is_an_error(self):
        assert type(raised(lambda: Solver(**{"n\udcff": 1}))) is UnicodeEncodeError

    def test_delete_is_refused_and_changes_nothing(self):
        for cls, name in ALL_PROPERTIES:
            obj = cls()
            before = getattr(obj, name)
            error = raised(lambda: delattr(obj, name))
            assert type(error) is AttributeError and str(error) == "property has no deleter"
            assert same_value(before, getattr(obj, name)), name


class NoteRefused(Exception):
    def add_note(self, note):
        raise RuntimeError("notes are refused")


class NoteMissing(BaseException):
    add_note = None


class TestConversionCallbacks:
    @pytest.mark.parametrize("exception_class", [NoteRefused, NoteMissing])
    @pytest.mark.parametrize("call", [
        lambda v: Spacecraft(fuel=v),
        lambda v: setattr(Solver(), "n", v),
        lambda v: Environment(gravity=[0.0, v, 0.0]),
    ], ids=["constructor", "setter", "element"])
    def test_failing_add_note_keeps_the_original_exception(self, exception_class, call):
        def fail():
            raise exception_class("conversion failed")
        error = raised(lambda: call(ConversionOf(fail)))
        assert type(error) is exception_class and str(error) == "conversion failed"
        assert error.__context__ is None and not hasattr(error, "__notes__")

    def test_conversion_may_read_and_write_the_object_being_assigned(self):
        craft = Spacecraft()
        seen = []
        craft.fuel = ConversionOf(lambda: seen.append(craft.fuel))
        craft.max_velocity = ConversionOf(lambda: setattr(craft, "wet_mass", 5.0))
        assert seen == [1700.0] and (craft.fuel, craft.max_velocity, craft.wet_mass) == (7.0, 7.0, 5.0)

    def test_conversion_may_shrink_the_sequence_being_read(self):
        values = [1.0, 2.0, 3.0]
        values[0] = ConversionOf(values.pop)
        error = raised(lambda: Spacecraft(initial_velocity=values))
        assert type(error) is IndexError and error.__notes__ == ["while processing 'initial_velocity'"]

    @pytest.mark.parametrize("value", [[1.0, 2.0, 3.0], [1.0, 2.0], ["x", 2.0, 3.0]])
    @pytest.mark.parametrize("call", [
        lambda v: Spacecraft(initial_position=v),
        lambda v: setattr(Environment(), "gravity", v),
        lambda v: Spacecraft(wet_mass=v[0]),
        lambda v: Config(spacecraft=Spacecraft(initial_position=v)),
    ], ids=["constructor", "setter", "element", "record"])
    def test_arguments_keep_their_reference_counts(self, call, value):
        before = (sys.getrefcount(value), sys.getrefcount(value[0]))
        for _ in range(50):
            try:
                call(value)
            except (TypeError, ValueError):
                pass
        assert (sys.getrefcount(value), sys.getrefcount(value[0])) == before


class TestCopySemantics:
    def test_config_copies_records_at_construction_and_assignment(self):
        craft, solver = Spacecraft(), Solver(n=5)
        config = Config(spacecraft=craft)
        config.solver = solver
        craft.wet_mass, solver.n = 1.0, 6
        assert (config.spacecraft.wet_mass, config.solver.n) == (2000.0, 5)
        before = sys.getrefcount(craft)
        config.spacecraft = craft
        assert sys.getrefcount(craft) == before

    @pytest.mark.parametrize("name", list(CONFIG_DEFAULTS))
    def test_record_read_is_a_fresh_copy(self, name):
        config = Config()
        first, second = getattr(config, name), getattr(config, name)
        assert first is not second
        field = next(iter(DEFAULTS[type(first)]))
        setattr(first, field, [1, 2, 3] if isinstance(getattr(first, field), list) else 1)
        assert same_value(getattr(config, name), type(first)())
        setattr(config, name, first)
        assert same_value(getattr(config, name), first)

    def test_subclass_instances_are_copied_as_plain_records(self):
        class HeavySpacecraft(Spacecraft):
            pass

        class LandingConfig(Config):
            pass

        craft = HeavySpacecraft(wet_mass=5000.0)
        craft.tag = "kept in the instance dict"
        config = LandingConfig(spacecraft=craft)
        assert type(config.spacecraft) is Spacecraft and config.spacecraft.wet_mass == 5000.0
        assert type(Config.from_json(config.to_json())) is Config

    @pytest.mark.parametrize("cls, name", [(Spacecraft, "initial_position"), (Environment, "gravity")])
    def test_vectors_are_copied_in_and_out(self, cls, name):
        source = np.array([4.0, 5.0, 6.0])
        obj = cls(**{name: source})
        source[0] = -7.0
        vector = getattr(obj, name)
        assert type(vector) is list and vector is not getattr(obj, name)
        vector[0] = 99.0
        vector.append(1.0)
        assert getattr(obj, name) == [4.0, 5.0, 6.0]
