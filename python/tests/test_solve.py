import gc
import math
import subprocess
import sys

import numpy as np
import pytest

import tarvo
import tarvo._tarvo as ext
from conftest import SMALL_N, SMALL_TOF, small_config
from tarvo import Config, PanicException, PyTrajectory, Solver, Spacecraft, solve

ARRAY_SHAPES = {
    "positions": (SMALL_N, 3),
    "velocities": (SMALL_N, 3),
    "u_values": (SMALL_N, 3),
    "thrusts": (SMALL_N,),
    "normalized_thrusts": (SMALL_N,),
    "z_values": (SMALL_N,),
    "s_values": (SMALL_N,),
    "time_points": (SMALL_N,),
}
PROPERTIES = list(ARRAY_SHAPES) + ["objective", "final_mass", "status"]


@pytest.fixture(scope="module")
def trajectory():
    return solve(small_config())


class TestModule:
    def test_extension_all_and_doc(self):
        assert ext.__all__ == ["Config", "Spacecraft", "Environment", "Solver", "PyTrajectory", "solve"]
        assert ext.__doc__ == ""

    def test_package_reexports_the_extension(self):
        for name in tarvo.__all__:
            assert getattr(tarvo, name) is getattr(ext, name)
        assert set(ext.__all__) | {"PanicException"} == set(tarvo.__all__)

    def test_panic_exception_is_not_an_ordinary_exception(self):
        assert issubclass(PanicException, BaseException)
        assert not issubclass(PanicException, Exception)

    def test_class_names_carry_no_module_prefix(self):
        for name in ext.__all__[:5]:
            assert getattr(ext, name).__name__ == name

    def test_import_raises_no_warning(self):
        run = subprocess.run([sys.executable, "-W", "error", "-c", "import tarvo, tarvo.__main__"],
                             capture_output=True, text=True, timeout=60)
        assert run.returncode == 0 and run.stderr == "", run.stderr

    def test_solve_signature(self):
        assert solve.__text_signature__ == "(config)"
        assert not solve.__doc__
        assert solve.__name__ == "solve"


class TestSolveArguments:
    @pytest.mark.parametrize("args, kwargs, message", [
        ((), {}, "solve() missing 1 required positional argument: 'config'"),
        (("c", "c"), {}, "solve() takes 1 positional arguments but 2 were given"),
        (("c", "c", "c"), {}, "solve() takes 1 positional arguments but 3 were given"),
        (("c",), {"config": "c"}, "solve() got multiple values for argument 'config'"),
        ((), {"cfg": "c"}, "solve() got an unexpected keyword argument 'cfg'"),
        ((), {"zzz": 1, "config": "c"}, "solve() got an unexpected keyword argument 'zzz'"),
        ((), {"config": "c", "zzz": 1, "yyy": 2}, "solve() got an unexpected keyword argument 'zzz'"),
        ((), {"Config": "c"}, "solve() got an unexpected keyword argument 'Config'"),
    ])
    def test_binding_errors(self, args, kwargs, message):
        config = small_config(tof=-1.0)
        real = lambda v: config if v == "c" else v
        with pytest.raises(TypeError) as info:
            solve(*map(real, args), **{k: real(v) for k, v in kwargs.items()})
        assert str(info.value) == message

    @pytest.mark.parametrize("value, message", [
        (None, "'None' is not an instance of 'Config'"),
        (Solver(), "'Solver' object is not an instance of 'Config'"),
        (Config, "'type' object is not an instance of 'Config'"),
        ({"solver": {}}, "'dict' object is not an instance of 'Config'"),
        ("{}", "'str' object is not an instance of 'Config'"),
    ])
    def test_wrong_type_has_note(self, value, message):
        for call in (lambda: solve(value), lambda: solve(config=value)):
            with pytest.raises(TypeError) as info:
                call()
            assert str(info.value) == message
            assert info.value.__notes__ == ["while processing 'config'"]

    def test_positional_and_keyword_give_the_same_result(self):
        a, b = solve(small_config()), solve(config=small_config())
        for name in ARRAY_SHAPES:
            np.testing.assert_array_equal(getattr(a, name), getattr(b, name))
        assert a.final_mass == b.final_mass

    def test_config_subclass_is_accepted(self, trajectory):
        try:
            sub = type("LandingConfig", (Config,), {})
        except TypeError:
            pytest.skip("Config cannot be subclassed")
        result = solve(sub(solver=Solver(n=SMALL_N, time_of_flight=SMALL_TOF)))
        assert result.final_mass == trajectory.final_mass

    def test_fixed_time_ignores_search_bounds(self, trajectory):
        config = small_config()
        solver = config.solver
        solver.tof_min, solver.tof_max = math.nan, -5.0
        config.solver = solver
        result = solve(config)
        np.testing.assert_array_equal(result.time_points, trajectory.time_points)
        assert result.final_mass == trajectory.final_mass


class TestTrajectory:
    def test_property_kinds(self, trajectory):
        for name, shape in ARRAY_SHAPES.items():
            array = getattr(trajectory, name)
            assert type(array) is np.ndarray and array.shape == shape and array.dtype == np.float64, name
            assert array.flags.c_contiguous and array.flags.writeable, name
            assert not array.flags.owndata and array.base is not None, name
        assert type(trajectory.objective) is float and type(trajectory.final_mass) is float
        assert type(trajectory.status) is str and trajectory.status in ("Solved", "AlmostSolved")

    def test_mass_and_objective(self, trajectory):
        z = trajectory.z_values
        assert trajectory.objective == z[-1]
        assert math.isclose(trajectory.final_mass, math.exp(trajectory.objective), rel_tol=1e-15)
        assert z[0] == pytest.approx(math.log(2000.0), abs=1e-7)
        dry = 2000.0 - 1700.0
        assert dry - 1e-6 <= trajectory.final_mass < 2000.0
        assert np.all(np.diff(z) <= 1e-9)

    def test_time_grid(self, trajectory):
        dt = SMALL_TOF / SMALL_N
        np.testing.assert_array_equal(trajectory.time_points, np.arange(SMALL_N) * dt)

    def test_boundary_states(self, trajectory):
        craft = Spacecraft()
        np.testing.assert_allclose(trajectory.positions[0], craft.initial_position, atol=1e-4)
        np.testing.assert_allclose(trajectory.velocities[0], craft.initial_velocity, atol=1e-5)
        np.testing.assert_allclose(trajectory.positions[-1], craft.target_position, atol=1e-4)
        np.testing.assert_allclose(trajectory.velocities[-1], craft.target_velocity, atol=1e-5)
        assert np.all(trajectory.positions[:, 2] >= -1e-6)

    def test_thrust_relations(self, trajectory):
        u, z = trajectory.u_values, trajectory.z_values
        expected = np.sqrt(u[:, 0] ** 2 + u[:, 1] ** 2 + u[:, 2] ** 2) * np.exp(z)
        np.testing.assert_allclose(trajectory.thrusts, expected, rtol=1e-13)
        np.testing.assert_allclose(trajectory.normalized_thrusts, trajectory.thrusts / 24000.0, rtol=1e-15)
        assert np.all(np.linalg.norm(u, axis=1) <= trajectory.s_values + 1e-6)
        assert trajectory.thrusts.max() <= 24000.0 * 0.8 * 1.01

    def test_every_read_is_a_new_independent_array(self, trajectory):
        for name in ARRAY_SHAPES:
            first, second = getattr(trajectory, name), getattr(trajectory, name)
            assert first is not second and first.base is not second.base
            saved = second.copy()
            first[...] = -1.0
            np.testing.assert_array_equal(second, saved)
            np.testing.assert_array_equal(getattr(trajectory, name), saved)

    def test_arrays_outlive_the_trajectory(self):
        result = solve(small_config())
        arrays = {name: getattr(result, name) for name in ARRAY_SHAPES}
        copies = {name: array.copy() for name, array in arrays.items()}
        del result
        gc.collect()
        churn = [solve(small_config()).positions for _ in range(3)]
        for name, array in arrays.items():
            np.testing.assert_array_equal(array, copies[name])
        assert len(churn) == 3

    def test_not_instantiable(self):
        with pytest.raises(TypeError):
            PyTrajectory()
        with pytest.raises(TypeError):
            PyTrajectory.__new__(PyTrajectory)

    @pytest.mark.parametrize("name", PROPERTIES)
    def test_properties_are_read_only(self, trajectory, name):
        before = getattr(trajectory, name)
        with pytest.raises(AttributeError):
            setattr(trajectory, name, before)
        with pytest.raises(AttributeError):
            delattr(trajectory, name)
        assert vars(PyTrajectory)[name].__doc__ is None

    def test_property_order(self):
        declared = [k for k, v in vars(PyTrajectory).items() if type(v).__name__ == "getset_descriptor"]
        assert declared == PROPERTIES


class TestFailures:
    @pytest.mark.parametrize("tof", [1.0, 0.5])
    def test_infeasible_fixed_time_reports_solver_status(self, tof):
        with pytest.raises(ValueError) as info:
            solve(small_config(tof=tof))
        assert str(info.value).startswith("solver status: ")
        assert str(info.value).split(": ", 1)[1] in (
            "PrimalInfeasible", "AlmostPrimalInfeasible", "DualInfeasible", "AlmostDualInfeasible",
            "MaxIterations", "NumericalError", "InsufficientProgress", "Unsolved")

    def test_search_without_feasible_point_with_bounds(self):
        config = Config(solver=Solver(n=10, tof_min=1.0, tof_max=3.0))
        with pytest.raises(ValueError) as info:
            solve(config)
        assert str(info.value) == "infeasible: no feasible time-of-flight in [1.000, 3.000]"

    def test_search_without_feasible_point_auto_bracket(self):
        # 0.8 N of thrust cannot hold a 2000 kg lander against gravity at any time of flight.
        craft = Spacecraft(real_max_thrust=1.0)
        dry = 2000.0 - 1700.0
        speed = math.sqrt(40.0 ** 2 + 10.0 ** 2 + 10.0 ** 2)
        lo = max(speed / max((1.0 * 0.8) / dry, 0.001), 1.0)
        hi = max(1700.0 / max(0.0005 * (1.0 * 0.2), 1e-9), 4.0 * lo)
        with pytest.raises(ValueError) as info:
            solve(Config(spacecraft=craft, solver=Solver(n=10)))
        assert str(info.value) == f"infeasible: no feasible time-of-flight in [{lo:.3f}, {hi:.3f}]"
        assert str(info.value) == "infeasible: no feasible time-of-flight in [15909.903, 17000000.000]"

    def test_single_bound_is_ignored(self):
        # With only one bound set the automatic bracket applies, as if none were set.
        config = Config(spacecraft=Spacecraft(real_max_thrust=1.0),
                        solver=Solver(n=10, tof_max=5.0))
        with pytest.raises(ValueError) as info:
            solve(config)
        assert "[15909.903, 17000000.000]" in str(info.value)


@pytest.fixture(scope="module")
def searched():
    config = Config(solver=Solver(n=15))
    before = config.to_json()
    result = solve(config)
    return config, before, result


class TestSearch:
    def test_configuration_unchanged(self, searched):
        config, before, _ = searched
        assert config.to_json() == before
        assert config.solver.time_of_flight is None

    def test_search_beats_nearby_fixed_times(self, searched):
        config, _, result = searched
        times = result.time_points
        tof = times[1] * len(times)
        assert 1.0 <= tof <= 2000.0 / 9.6
        for factor in (0.8, 1.25):
            try:
                other = solve(small_config(n=15, tof=tof * factor))
            except ValueError:
                continue
            assert other.final_mass <= result.final_mass + 1e-6

    def test_searched_result_is_a_landing(self, searched):
        _, _, result = searched
        assert result.status in ("Solved", "AlmostSolved")
        np.testing.assert_allclose(result.positions[-1], [0.0, 0.0, 0.0], atol=1e-4)


class TestQuiet:
    def test_nothing_printed(self, capfd):
        solve(small_config())
        solve(Config(solver=Solver(n=8)))
        with pytest.raises(ValueError):
            solve(small_config(tof=0.5))
        assert capfd.readouterr() == ("", "")
