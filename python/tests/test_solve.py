import gc
import importlib
import math
import sys

import numpy as np
import pytest

import tarvo
import tarvo._tarvo as ext
from conftest import CONVERGED, SMALL_N, SMALL_TOF, raised, run_python, small_config
from landing_checks import NODE_ARRAYS
from tarvo import Config, PanicException, PyTrajectory, Solver, Spacecraft, solve

VECTOR_ARRAYS = ("positions", "velocities", "u_values")  # one row of three per node
PROPERTIES = [*NODE_ARRAYS, "objective", "final_mass", "status"]
EXTENSION_ALL = ["Config", "Spacecraft", "Environment", "Solver", "PyTrajectory", "solve"]


class TestModule:
    def test_extension_exports(self):
        assert ext.__all__ == EXTENSION_ALL and ext.__doc__ == ""
        assert "ArrayBuffer" not in dir(ext)
        for name in EXTENSION_ALL + ["PanicException"]:
            assert getattr(tarvo, name) is getattr(ext, name)

    def test_names(self):
        for cls in (Config, Spacecraft, tarvo.Environment, Solver, PyTrajectory):
            assert "." not in cls.__name__ and cls.__module__ == "tarvo._tarvo"
        assert (solve.__name__, solve.__text_signature__) == ("solve", "(config)") and not solve.__doc__

    def test_panic_exception_is_not_an_ordinary_exception(self):
        assert issubclass(PanicException, BaseException) and not issubclass(PanicException, Exception)

    def test_import_is_quiet_under_strict_warnings(self):
        run = run_python("import tarvo, tarvo.__main__", flags=("-W", "error", "-X", "dev"))
        assert (run.returncode, run.stderr) == (0, "")

    def test_reimport_keeps_the_classes(self):
        old_config = small_config()
        saved = {name: sys.modules.pop(name) for name in ("tarvo", "tarvo._tarvo")}
        try:
            fresh = importlib.import_module("tarvo._tarvo")
            assert fresh is not saved["tarvo._tarvo"] and fresh.__all__ == EXTENSION_ALL
            assert fresh.Config is Config and fresh.PanicException is PanicException
            assert fresh.solve(old_config).status in CONVERGED
        finally:
            sys.modules.update(saved)

    def test_missing_numpy_is_a_panic_that_keeps_the_trajectory(self):
        run = run_python("""
            import sys
            sys.modules["numpy"] = None
            from tarvo import _tarvo as ext
            trajectory = ext.solve(ext.Config(solver=ext.Solver(n=12, time_of_flight=40.0)))
            for name in ("positions", "time_points"):
                try:
                    getattr(trajectory, name)
                except ext.PanicException as fault:
                    print(str(fault).startswith("Failed to access NumPy array API capsule"))
            print(trajectory.status in ("Solved", "AlmostSolved"), trajectory.final_mass > 0)
        """)
        assert run.returncode == 0, run.stderr
        assert run.stdout.split() == ["True"] * 4, run.stdout


class TestSolveArguments:
    @pytest.mark.parametrize("args, kwargs, message", [
        ((), {}, "solve() missing 1 required positional argument: 'config'"),
        (("c", "c"), {}, "solve() takes 1 positional arguments but 2 were given"),
        (("c",), {"config": "c"}, "solve() got multiple values for argument 'config'"),
        ((), {"cfg": "c"}, "solve() got an unexpected keyword argument 'cfg'"),
        ((), {"config": "c", "zzz": 1, "yyy": 2}, "solve() got an unexpected keyword argument 'zzz'"),
    ])
    def test_binding_errors(self, args, kwargs, message):
        config = small_config(tof=-1.0)
        real = lambda v: config if v == "c" else v
        error = raised(lambda: solve(*map(real, args), **{k: real(v) for k, v in kwargs.items()}))
        assert type(error) is TypeError and str(error) == message

    def test_unencodable_keyword_name_is_an_error(self):
        assert type(raised(lambda: solve(**{"config\udcff": 1}))) is UnicodeEncodeError

    @pytest.mark.parametrize("value, message", [
        (None, "'None' is not an instance of 'Config'"),
        (Solver(), "'Solver' object is not an instance of 'Config'"),
        (Config, "'type' object is not an instance of 'Config'"),
        ("{}", "'str' object is not an instance of 'Config'"),
    ])
    def test_wrong_type_has_note(self, value, message):
        for call in (lambda: solve(value), lambda: solve(config=value)):
            error = raised(call)
            assert type(error) is TypeError and str(error) == message
            assert error.__notes__ == ["while processing 'config'"]

    def test_keyword_subclass_and_ignored_bounds_give_the_same_result(self, trajectory):
        class LandingConfig(Config):
            pass

        config = LandingConfig(solver=Solver(n=SMALL_N, time_of_flight=SMALL_TOF, tof_min=math.nan, tof_max=-5.0))
        result = solve(config=config)
        for name in NODE_ARRAYS:
            np.testing.assert_array_equal(getattr(result, name), getattr(trajectory, name))
        assert result.final_mass == trajectory.final_mass


class TestTrajectory:
    def test_property_kinds(self, trajectory):
        for name in NODE_ARRAYS:
            array, shape = getattr(trajectory, name), (SMALL_N, 3) if name in VECTOR_ARRAYS else (SMALL_N,)
            assert type(array) is np.ndarray and array.shape == shape and array.dtype == np.float64, name
            assert array.flags.c_contiguous and array.flags.writeable, name
            assert not array.flags.owndata and array.base is not None, name
        assert type(trajectory.objective) is float and type(trajectory.final_mass) is float
        assert type(trajectory.status) is str and trajectory.status in CONVERGED

    def test_mass_grid_and_boundary_states(self, trajectory):
        z = trajectory.z_values
        assert trajectory.objective == z[-1]
        assert math.isclose(trajectory.final_mass, math.exp(trajectory.objective), rel_tol=1e-15)
        assert z[0] == pytest.approx(math.log(2000.0), abs=1e-7)
        assert 300.0 - 1e-6 <= trajectory.final_mass < 2000.0 and np.all(np.diff(z) <= 1e-9)
        np.testing.assert_array_equal(trajectory.time_points, np.arange(SMALL_N) * (SMALL_TOF / SMALL_N))
        craft = Spacecraft()
        np.testing.assert_allclose(trajectory.positions[0], craft.initial_position, atol=1e-4)
        np.testing.assert_allclose(trajectory.velocities[0], craft.initial_velocity, atol=1e-5)
        np.testing.assert_allclose(trajectory.positions[-1], craft.target_position, atol=1e-4)
        np.testing.assert_allclose(trajectory.velocities[-1], craft.target_velocity, atol=1e-5)
        assert np.all(trajectory.positions[:, 2] >= -1e-6)

    def test_thrust_relations(self, trajectory):
        u, z = trajectory.u_values, trajectory.z_values
        np.testing.assert_allclose(trajectory.thrusts, np.linalg.norm(u, axis=1) * np.exp(z), rtol=1e-13)
        np.testing.assert_allclose(trajectory.normalized_thrusts, trajectory.thrusts / 24000.0, rtol=1e-15)
        assert np.all(np.linalg.norm(u, axis=1) <= trajectory.s_values + 1e-6)
        assert trajectory.thrusts.max() <= 24000.0 * 0.8 * 1.01

    def test_every_read_is_a_new_independent_array(self, trajectory):
        for name in NODE_ARRAYS:
            first, second = getattr(trajectory, name), getattr(trajectory, name)
            assert first is not second and first.base is not second.base
            saved = second.copy()
            first[...] = -1.0
            np.testing.assert_array_equal(second, saved)
            np.testing.assert_array_equal(getattr(trajectory, name), saved)

    def test_arrays_outlive_the_trajectory(self):
        result = solve(small_config())
        arrays = {name: getattr(result, name) for name in NODE_ARRAYS}
        copies = {name: array.copy() for name, array in arrays.items()}
        del result
        gc.collect()
        _churn = [solve(small_config(n=10)).positions for _ in range(3)]
        for name, array in arrays.items():
            np.testing.assert_array_equal(array, copies[name])

    def test_not_instantiable(self):
        for call in (PyTrajectory, lambda: PyTrajectory.__new__(PyTrajectory)):
            assert type(raised(call)) is TypeError

    def test_properties_are_read_only_undocumented_and_ordered(self, trajectory):
        for name in PROPERTIES:
            before = getattr(trajectory, name)
            assert type(raised(lambda: setattr(trajectory, name, before))) is AttributeError
            assert type(raised(lambda: delattr(trajectory, name))) is AttributeError
            assert vars(PyTrajectory)[name].__doc__ is None
        declared = [k for k, v in vars(PyTrajectory).items() if type(v).__name__ == "getset_descriptor"]
        assert declared == PROPERTIES


class TestFailures:
    def test_infeasible_fixed_time_reports_solver_status(self):
        error = raised(lambda: solve(small_config(tof=0.5)))
        assert type(error) is ValueError and str(error).startswith("solver status: ")
        assert str(error).split(": ", 1)[1] in (
            "PrimalInfeasible", "AlmostPrimalInfeasible", "DualInfeasible", "AlmostDualInfeasible",
            "MaxIterations", "NumericalError", "InsufficientProgress", "Unsolved")

    @pytest.mark.parametrize("craft, solver, interval", [
        (Spacecraft(), Solver(n=10, tof_min=1.0, tof_max=3.0), "[1.000, 3.000]"),
        # 0.8 N of thrust cannot hold a 2000 kg lander against gravity at any time of flight:
        # the automatic bracket is [|v0| / (0.8 / 300), 1700 / (0.0005 * 0.2)].
        (Spacecraft(real_max_thrust=1.0), Solver(n=10), "[15909.903, 17000000.000]"),
        # With only one bound set the automatic bracket applies.
        (Spacecraft(real_max_thrust=1.0), Solver(n=10, tof_max=5.0), "[15909.903, 17000000.000]"),
    ])
    def test_search_without_feasible_point(self, craft, solver, interval):
        error = raised(lambda: solve(Config(spacecraft=craft, solver=solver)))
        assert type(error) is ValueError
        assert str(error) == f"infeasible: no feasible time-of-flight in {interval}"

    @pytest.mark.parametrize("tof", [SMALL_TOF, 0.5], ids=["solved", "infeasible"])
    def test_solve_keeps_the_config_reference_count(self, tof):
        config = small_config(n=10, tof=tof)
        before = sys.getrefcount(config)
        for _ in range(5):
            try:
                solve(config)
            except ValueError:
                pass
        assert sys.getrefcount(config) == before

    def test_nothing_printed(self, capfd):
        solve(small_config(n=10))
        solve(Config(solver=Solver(n=8)))
        raised(lambda: solve(small_config(tof=0.5)))
        assert capfd.readouterr() == ("", "")


class TestSearch:
    def test_search_lands_and_leaves_the_configuration_unchanged(self):
        config = Config(solver=Solver(n=15))
        before = config.to_json()
        result = solve(config)
        assert config.to_json() == before and config.solver.time_of_flight is None
        assert result.status in CONVERGED and len(result.time_points) == 15
        assert 1.0 <= result.time_points[1] * 15 <= 2000.0 / 9.6
        np.testing.assert_allclose(result.positions[-1], [0.0, 0.0, 0.0], atol=1e-4)
