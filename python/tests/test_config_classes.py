import ast
import contextlib
import inspect
import math
import pathlib
import sys

import numpy as np
import pytest

import tarvo
from conftest import raised
from landing_checks import declared_properties, value_bits
from tarvo import Config, Environment, PyTrajectory, Solver, Spacecraft

FIELDS = {cls: declared_properties(cls) for cls in (Spacecraft, Environment, Solver, Config)}
ALL_PROPERTIES = [(cls, name) for cls, names in FIELDS.items() for name in names]


def same_value(a, b):
    """Exact equality: floats bit for bit, lists element-wise, records field by field."""
    if type(a) in FIELDS:
        return type(b) is type(a) and all(same_value(getattr(a, k), getattr(b, k)) for k in FIELDS[type(a)])
    return type(a) is type(b) and value_bits(a) == value_bits(b)


def stub_class(name):
    """From the hand-written type stub: the class's properties, their setters and the
    parameters of its __new__ with their defaults, each in the order written."""
    stub = ast.parse(pathlib.Path(tarvo.__file__).with_name("_tarvo.pyi").read_text())
    body = next(node.body for node in stub.body if isinstance(node, ast.ClassDef) and node.name == name)
    functions = [node for node in body if isinstance(node, ast.FunctionDef)]
    decorators = lambda f: [ast.unparse(d) for d in f.decorator_list]
    properties = [f.name for f in functions if "property" in decorators(f)]
    setters = [f.name for f in functions if f"{f.name}.setter" in decorators(f)]
    defaults = {a.arg: ast.literal_eval(d) for f in functions if f.name == "__new__"
                for a, d in zip(f.args.args[1:], f.args.defaults)}
    return properties, setters, defaults


@pytest.mark.parametrize("cls", [*FIELDS, PyTrajectory])
def test_the_type_stub_and_the_signature_match_the_class(cls):
    properties, setters, stub_defaults = stub_class(cls.__name__)
    assert properties == declared_properties(cls) and properties
    if cls is PyTrajectory:
        return
    signature = {name: p.default for name, p in inspect.signature(cls).parameters.items()}
    assert setters == list(stub_defaults) == list(signature) == properties
    assert stub_defaults == signature
    instance = cls()
    for name, default in signature.items():  # "..." stands for a vector or a record
        assert default is ... or same_value(getattr(instance, name), default), name


def distinct_values(cls):
    """A value for every field of cls, each different from the others and from its default."""
    values = {}
    for i, name in enumerate(FIELDS[cls]):
        default = getattr(cls(), name)
        if type(default) in FIELDS:
            values[name] = type(default)(*distinct_values(type(default)).values())
        elif isinstance(default, list):
            values[name] = [i + 0.5, -float(i), 3.0]
        else:
            values[name] = i + 7 if isinstance(default, int) else i + 0.25
    return values


@pytest.mark.parametrize("cls", FIELDS)
def test_positional_and_keyword_arguments_reach_their_own_fields(cls):
    values = distinct_values(cls)
    for obj in (cls(*values.values()), cls(**values)):
        for name, value in values.items():
            assert same_value(getattr(obj, name), value), name


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


@pytest.mark.parametrize("cls, name, value, expected", [
    (Spacecraft, "fuel", True, 1.0),
    (Spacecraft, "max_velocity", np.float32(0.1), float(np.float32(0.1))),
    (Environment, "max_angle_deg", ConversionOf(), 7.0),
    (Spacecraft, "wet_mass", 2**70, float(2**70)),
    (Solver, "time_of_flight", np.int64(-12), -12.0),
    (Environment, "gravity", (1, 2, 3), [1.0, 2.0, 3.0]),
    (Spacecraft, "initial_velocity", range(3), [0.0, 1.0, 2.0]),
    (Environment, "gravity", (ConversionOf(), np.float32(0.5), True), [7.0, 0.5, 1.0]),
    (Solver, "n", 0, 0),
    (Solver, "n", 2**64 - 1, 2**64 - 1),
    (Solver, "n", ConversionOf(), 7),
    # Doubles are stored as given, unvalidated, and None clears a bound.
    *[(Spacecraft, "wet_mass", x, x) for x in (-1.0, -0.0, math.inf, -math.inf, math.nan, 1e308, 5e-324)],
    (Spacecraft, "initial_position", [-0.0, math.nan, -math.inf], [-0.0, math.nan, -math.inf]),
    (Solver, "tof_min", math.nan, math.nan),
    (Solver, "tof_min", None, None),
])
def test_conversions_by_constructor_and_setter(cls, name, value, expected):
    assigned = cls()
    setattr(assigned, name, value)
    for obj in (cls(**{name: value}), assigned):
        assert same_value(getattr(obj, name), expected)


class FailsOnSecond:
    def __len__(self):
        return 3

    def __getitem__(self, index):
        if index == 1:
            raise KeyError("element 1")
        return 1.0


@pytest.mark.parametrize("how", ["constructor", "setter"])
@pytest.mark.parametrize("cls, name, value, kind, message", [  # message None: the interpreter's own
    (Spacecraft, "wet_mass", "2000", TypeError, None),
    (Environment, "max_angle_deg", None, TypeError, None),
    (Spacecraft, "initial_position", [1, 2], ValueError, "expected a sequence of length 3 (got 2)"),
    (Spacecraft, "initial_position", 5, TypeError, "'int' object is not an instance of 'Sequence'"),
    (Spacecraft, "target_velocity", None, TypeError, "'None' is not an instance of 'Sequence'"),
    (Environment, "gravity", {1.0, 2.0, 3.0}, TypeError, "'set' object is not an instance of 'Sequence'"),
    (Spacecraft, "initial_position", [1.0, "2", 3.0], TypeError, None),
    (Spacecraft, "initial_position", FailsOnSecond(), KeyError, None),
    (Solver, "n", -1, OverflowError, None),
    (Solver, "n", 2**64, OverflowError, None),
    (Solver, "n", 2.5, TypeError, None),
    (Solver, "tof_max", "1", TypeError, None),
    (Config, "spacecraft", None, TypeError, "'None' is not an instance of 'Spacecraft'"),
    (Config, "environment", Solver(), TypeError, "'Solver' object is not an instance of 'Environment'"),
])
def test_conversion_error_names_the_field_and_changes_nothing(how, cls, name, value, kind, message):
    obj = cls()
    before = getattr(obj, name)
    error = raised(lambda: cls(**{name: value}) if how == "constructor" else setattr(obj, name, value))
    assert type(error) is kind and (message is None or str(error) == message)
    assert error.__notes__ == [f"while processing '{name}'"]
    assert same_value(before, getattr(obj, name))


@pytest.mark.parametrize("cls", FIELDS)
def test_binding_errors_name_new(cls):
    new, fields = f"{cls.__name__}.__new__()", FIELDS[cls]
    count, first = len(fields), fields[0]
    for call, kind, message in [
        (lambda: cls(*([0] * (count + 1))), TypeError,
         f"{new} takes from 0 to {count} positional arguments but {count + 1} were given"),
        (lambda: cls(bogus=1), TypeError, f"{new} got an unexpected keyword argument 'bogus'"),
        (lambda: cls(None, **{first: None}), TypeError, f"{new} got multiple values for argument '{first}'"),
        (lambda: cls(**{first + "\udcff": 1}), UnicodeEncodeError, None),
    ]:
        error = raised(call)
        assert type(error) is kind and (message is None or str(error) == message)
    # Arguments convert in order, and the first failure is named.
    error = raised(lambda: cls(**{name: "x" for name in reversed(fields)}))
    assert error.__notes__ == [f"while processing '{first}'"]


def test_delete_is_refused_and_changes_nothing():
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


@pytest.mark.parametrize("exception_class", [NoteRefused, NoteMissing])
def test_failing_add_note_keeps_the_original_exception(exception_class):
    def fail():
        raise exception_class("conversion failed")
    for call in (lambda: Spacecraft(fuel=ConversionOf(fail)),
                 lambda: setattr(Solver(), "n", ConversionOf(fail)),
                 lambda: Environment(gravity=[0.0, ConversionOf(fail), 0.0])):
        error = raised(call)
        assert type(error) is exception_class and str(error) == "conversion failed"
        assert error.__context__ is None and not hasattr(error, "__notes__")


def test_conversion_may_touch_the_object_and_the_sequence_being_read():
    craft = Spacecraft()
    seen = []
    craft.fuel = ConversionOf(lambda: seen.append(craft.fuel))
    craft.max_velocity = ConversionOf(lambda: setattr(craft, "wet_mass", 5.0))
    assert seen == [1700.0] and (craft.fuel, craft.max_velocity, craft.wet_mass) == (7.0, 7.0, 5.0)
    values = [1.0, 2.0, 3.0]
    values[0] = ConversionOf(values.pop)
    error = raised(lambda: Spacecraft(initial_velocity=values))
    assert type(error) is IndexError and error.__notes__ == ["while processing 'initial_velocity'"]


@pytest.mark.parametrize("value", [[1.0, 2.0, 3.0], [1.0, 2.0], ["x", 2.0, 3.0]])
def test_arguments_keep_their_reference_counts(value):
    before = (sys.getrefcount(value), sys.getrefcount(value[0]))
    for call in (lambda: Spacecraft(initial_position=value), lambda: Spacecraft(wet_mass=value[0]),
                 lambda: setattr(Environment(), "gravity", value),
                 lambda: Config(spacecraft=Spacecraft(initial_position=value))):
        for _ in range(50):
            with contextlib.suppress(TypeError, ValueError):
                call()
    assert (sys.getrefcount(value), sys.getrefcount(value[0])) == before


def test_records_and_vectors_are_copied_in_and_out():
    class HeavySpacecraft(Spacecraft):
        pass

    craft, solver = HeavySpacecraft(), Solver(n=5)
    craft.tag = "kept in the instance dict"
    config = Config(spacecraft=craft)
    assert type(config.spacecraft) is Spacecraft  # a subclass's instance is copied as a plain record
    config.solver = solver
    craft.wet_mass, solver.n = 1.0, 6
    assert (config.spacecraft.wet_mass, config.solver.n) == (2000.0, 5)
    read, before = config.environment, sys.getrefcount(craft)
    config.spacecraft, read.max_angle_deg = craft, 5.0
    assert (sys.getrefcount(craft), config.environment.max_angle_deg) == (before, 90.0)
    source = np.array([4.0, 5.0, 6.0])
    craft = Spacecraft(initial_position=source)
    source[0], vector = -7.0, craft.initial_position
    vector[0] = 99.0
    vector.append(1.0)
    assert type(vector) is list and craft.initial_position == [4.0, 5.0, 6.0]
