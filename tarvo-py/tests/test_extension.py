"""Mechanics of the extension module: reference counts, re-entrant conversions, subclasses,
re-import and the internal-fault path."""

import gc
import importlib
import subprocess
import sys
import textwrap

import pytest

from tarvo import _tarvo as ext

FIXED = dict(n=12, time_of_flight=40.0)


def fixed_config():
    return ext.Config(solver=ext.Solver(**FIXED))


class TestReferenceCounts:
    """Every path must give back exactly the references it took."""

    @pytest.mark.parametrize(
        "call",
        [
            lambda v: ext.Spacecraft(initial_position=v),
            lambda v: setattr(ext.Environment(), "gravity", v),
            lambda v: ext.Spacecraft(wet_mass=v[0]),
        ],
        ids=["constructor", "setter", "element"],
    )
    @pytest.mark.parametrize("value", [[1.0, 2.0, 3.0], [1.0, 2.0], ["x", 2.0, 3.0]])
    def test_arguments_keep_their_count(self, call, value):
        before = (sys.getrefcount(value), sys.getrefcount(value[0]))
        for _ in range(50):
            try:
                call(value)
            except (TypeError, ValueError):
                pass
        assert (sys.getrefcount(value), sys.getrefcount(value[0])) == before

    @pytest.mark.parametrize("tof", [40.0, 1.0], ids=["solved", "infeasible"])
    def test_solve_keeps_the_config_count(self, tof):
        config = ext.Config(solver=ext.Solver(n=12, time_of_flight=tof))
        before = sys.getrefcount(config)
        for _ in range(5):
            try:
                ext.solve(config)
            except ValueError:
                pass
        assert sys.getrefcount(config) == before

    def test_sub_record_source_keeps_its_count(self):
        craft = ext.Spacecraft()
        before = sys.getrefcount(craft)
        config = ext.Config(spacecraft=craft)
        config.spacecraft = craft
        assert sys.getrefcount(craft) == before

    def test_from_json_argument_keeps_its_count(self):
        text = "".join(["{", "} x"])  # a fresh, uninterned string
        before = sys.getrefcount(text)
        for _ in range(20):
            with pytest.raises(ValueError):
                ext.Config.from_json(text)
        assert sys.getrefcount(text) == before


class NoteRefused(Exception):
    def add_note(self, note):
        raise RuntimeError("notes are refused")


class NoteMissing(BaseException):
    add_note = None


def raising(exception_class):
    class Value:
        def __float__(self):
            raise exception_class("conversion failed")

        __index__ = __float__

    return Value()


class TestExceptionTexts:
    @pytest.mark.parametrize("exception_class", [NoteRefused, NoteMissing])
    @pytest.mark.parametrize(
        "call",
        [
            lambda v: ext.Spacecraft(fuel=v),
            lambda v: setattr(ext.Solver(), "n", v),
            lambda v: ext.Environment(gravity=[0.0, v, 0.0]),
        ],
        ids=["constructor", "setter", "element"],
    )
    def test_failing_add_note_keeps_the_original_exception(self, exception_class, call):
        with pytest.raises(exception_class) as raised:
            call(raising(exception_class))
        assert str(raised.value) == "conversion failed"
        assert raised.value.__context__ is None and not hasattr(raised.value, "__notes__")

    @pytest.mark.parametrize(
        "text, message",
        [
            ('"\u00e9t\u00e9"', 'invalid type: string "\u00e9t\u00e9", expected struct Config'
             " at line 1 column 7"),
            ('{"solver": {"n": "\u00e9"}}', 'invalid type: string "\u00e9", expected usize'
             " at line 1 column 21"),
        ],
    )
    def test_read_errors_keep_non_ascii_text(self, text, message):
        with pytest.raises(ValueError) as raised:
            ext.Config.from_json(text)
        assert str(raised.value) == message

    @pytest.mark.parametrize(
        "call",
        [
            lambda: ext.Spacecraft(*[1.0] * 6, *[[0, 0, 0]] * 4, 1.0, fuel_consumption=1),
            lambda: ext.Config(None, None, None, solver=None),
        ],
        ids=["Spacecraft", "Config"],
    )
    def test_last_parameter_given_twice(self, call):
        with pytest.raises(TypeError, match="got multiple values for argument '(fuel_c|solver)"):
            call()

    @pytest.mark.parametrize(
        "call",
        [lambda: ext.Solver(**{"n\udcff": 1}), lambda: ext.solve(**{"config\udcff": 1})],
        ids=["constructor", "fast-call"],
    )
    def test_unencodable_keyword_name_is_an_error(self, call):
        with pytest.raises(UnicodeEncodeError):
            call()

    def test_node_count_beyond_64_bits_overflows_with_note(self):
        with pytest.raises(OverflowError) as raised:
            ext.Solver(n=2**64)
        assert raised.value.__notes__ == ["while processing 'n'"]
        assert ext.Solver(n=2**64 - 1).n == 2**64 - 1


class ReentrantValue:
    """A float-convertible value whose conversion reads or writes the target object."""

    def __init__(self, target, action):
        self.target = target
        self.action = action

    def __float__(self):
        self.action(self.target)
        return 7.0


class TestReentrantConversion:
    def test_conversion_may_read_the_object_being_assigned(self):
        craft = ext.Spacecraft()
        seen = []
        craft.fuel = ReentrantValue(craft, lambda c: seen.append(c.fuel))
        assert seen == [1700.0] and craft.fuel == 7.0

    def test_conversion_may_assign_to_the_object_being_assigned(self):
        craft = ext.Spacecraft()
        craft.fuel = ReentrantValue(craft, lambda c: setattr(c, "wet_mass", 5.0))
        assert (craft.wet_mass, craft.fuel) == (5.0, 7.0)

    def test_conversion_may_use_a_sequence_that_mutates_itself(self):
        values = [1.0, 2.0, 3.0]
        values[0] = ReentrantValue(values, lambda v: v.pop())
        with pytest.raises(IndexError) as raised:
            ext.Spacecraft(initial_velocity=values)
        assert raised.value.__notes__ == ["while processing 'initial_velocity'"]


class TestSubclasses:
    def test_subclass_instances_are_accepted_and_released(self):
        class MyCraft(ext.Spacecraft):
            pass

        class MyConfig(ext.Config):
            pass

        craft = MyCraft(wet_mass=1900.0)
        craft.tag = "kept in the instance dict"
        config = MyConfig(spacecraft=craft, solver=ext.Solver(**FIXED))
        assert type(config.spacecraft) is ext.Spacecraft
        assert config.spacecraft.wet_mass == 1900.0
        assert ext.solve(config).status in ("Solved", "AlmostSolved")
        del craft, config
        gc.collect()


class TestModuleLifecycle:
    def test_reimport_keeps_the_classes(self):
        old_config = fixed_config()
        saved = {name: sys.modules.pop(name) for name in ("tarvo", "tarvo._tarvo")}
        try:
            fresh = importlib.import_module("tarvo._tarvo")
            assert fresh is not saved["tarvo._tarvo"]
            assert fresh.__all__ == [
                "Config", "Spacecraft", "Environment", "Solver", "PyTrajectory", "solve"
            ]
            assert fresh.Config is ext.Config and fresh.PanicException is ext.PanicException
            assert fresh.solve(old_config).status in ("Solved", "AlmostSolved")
        finally:
            sys.modules.update(saved)

    def test_classes_report_bare_names_and_the_module(self):
        for cls in (ext.Config, ext.Spacecraft, ext.Environment, ext.Solver, ext.PyTrajectory):
            assert "." not in cls.__name__ and cls.__module__ == "tarvo._tarvo"
        assert "ArrayBuffer" not in dir(ext) and "PanicException" not in ext.__all__


def run_isolated(code):
    """Runs code in a fresh interpreter, for states that cannot be undone in this one."""
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True, timeout=120
    )


class TestInternalFault:
    def test_missing_numpy_is_a_panic_that_releases_the_object(self):
        result = run_isolated(
            """
            import sys
            sys.modules["numpy"] = None
            from tarvo import _tarvo as ext
            config = ext.Config(solver=ext.Solver(n=12, time_of_flight=40.0))
            trajectory = ext.solve(config)
            for name in ("positions", "time_points"):
                try:
                    getattr(trajectory, name)
                except Exception:
                    print("ordinary exception")
                except ext.PanicException as fault:
                    print(str(fault).startswith("Failed to access NumPy array API capsule"))
            print(trajectory.status in ("Solved", "AlmostSolved"), trajectory.final_mass > 0)
            """
        )
        assert result.returncode == 0, result.stderr
        assert result.stdout.split() == ["True", "True", "True", "True"]

    def test_import_is_quiet_under_strict_warnings(self):
        strict = subprocess.run(
            [sys.executable, "-W", "error", "-X", "dev", "-c", "import tarvo._tarvo"],
            capture_output=True, text=True, timeout=120,
        )
        assert (strict.returncode, strict.stderr) == (0, "")
