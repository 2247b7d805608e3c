import gc
import importlib
import inspect
import math
import sys

import numpy as np
import pytest

import tarvo
import tarvo._tarvo as ext
from conftest import CONVERGED, SMALL_N, SMALL_TOF, raised, run_python, small_config
from landing_checks import NODE_ARRAYS, array_bits, declared_properties
from tarvo import Config, PanicException, PyTrajectory, Solver, Spacecraft, solve

EXTENSION_ALL = ["Config", "Spacecraft", "Environment", "Solver", "PyTrajectory", "solve"]
CONFIG = object()  # stands for a valid configuration in the tables below


@pytest.fixture(scope="module")
def trajectory():
    return solve(small_config())


def test_exports_and_names():
    assert ext.__all__ == EXTENSION_ALL and "ArrayBuffer" not in dir(ext)
    for name in EXTENSION_ALL + ["PanicException"]:
        exported = getattr(ext, name)
        assert getattr(tarvo, name) is exported
        assert exported.__name__ == name and exported.__module__ == "tarvo._tarvo"
    assert list(inspect.signature(solve).parameters) == ["config"]
    assert issubclass(PanicException, BaseException) and not issubclass(PanicException, Exception)
    run = run_python("import tarvo, tarvo.__main__", flags=("-W", "error", "-X", "dev"))
    assert (run.returncode, run.stderr) == (0, "")  # quiet under strict warnings


def test_reimport_keeps_the_classes():
    saved = {name: sys.modules.pop(name) for name in ("tarvo", "tarvo._tarvo")}
    try:
        fresh = importlib.import_module("tarvo._tarvo")
        assert fresh is not saved["tarvo._tarvo"] and fresh.__all__ == EXTENSION_ALL
        assert fresh.Config is Config and fresh.PanicException is PanicException
        assert fresh.solve(small_config()).status in CONVERGED
    finally:
        sys.modules.update(saved)


def test_missing_numpy_is_a_panic_that_keeps_the_trajectory():
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
    assert (run.returncode, run.stdout.split()) == (0, ["True"] * 4), run.stdout + run.stderr


@pytest.mark.parametrize("args, kwargs, kind, message", [
    ((), {}, TypeError, "solve() missing 1 required positional argument: 'config'"),
    ((CONFIG, CONFIG), {}, TypeError, "solve() takes 1 positional arguments but 2 were given"),
    ((CONFIG,), {"config": CONFIG}, TypeError, "solve() got multiple values for argument 'config'"),
    ((), {"cfg": CONFIG}, TypeError, "solve() got an unexpected keyword argument 'cfg'"),
    ((), {"config": CONFIG, "zzz": 1, "yyy": 2}, TypeError,
     "solve() got an unexpected keyword argument 'zzz'"),
    ((), {"config\udcff": 1}, UnicodeEncodeError, None),
])
def test_binding_errors(args, kwargs, kind, message):
    config = small_config(tof=-1.0)  # would fail too, were it solved
    real = lambda v: config if v is CONFIG else v
    error = raised(lambda: solve(*map(real, args), **{k: real(v) for k, v in kwargs.items()}))
    assert type(error) is kind and (message is None or str(error) == message)


@pytest.mark.parametrize("value, message", [
    (None, "'None' is not an instance of 'Config'"),
    (Solver(), "'Solver' object is not an instance of 'Config'"),
    (Config, "'type' object is not an instance of 'Config'"),
    ("{}", "'str' object is not an instance of 'Config'"),
])
def test_wrong_type_names_the_argument(value, message):
    for call in (lambda: solve(value), lambda: solve(config=value)):
        error = raised(call)
        assert type(error) is TypeError and str(error) == message
        assert error.__notes__ == ["while processing 'config'"]


def test_trajectory_kinds_and_read_only_properties(trajectory):
    for name in NODE_ARRAYS:
        array = getattr(trajectory, name)
        shape = (SMALL_N, 3) if name in ("positions", "velocities", "u_values") else (SMALL_N,)
        assert type(array) is np.ndarray and array.shape == shape and array.dtype == np.float64
        assert array.flags.c_contiguous and array.flags.writeable, name
    assert type(trajectory.objective) is float and type(trajectory.final_mass) is float
    assert type(trajectory.status) is str and trajectory.status in CONVERGED
    for name in declared_properties(PyTrajectory):
        assert type(raised(lambda: setattr(trajectory, name, None))) is AttributeError
        assert type(raised(lambda: delattr(trajectory, name))) is AttributeError
    for call in (PyTrajectory, lambda: PyTrajectory.__new__(PyTrajectory)):
        assert type(raised(call)) is TypeError


def test_each_array_holds_its_own_quantity(trajectory):
    z, u = trajectory.z_values, trajectory.u_values
    assert trajectory.objective == z[-1]
    assert math.isclose(trajectory.final_mass, math.exp(trajectory.objective), rel_tol=1e-15)
    assert z[0] == pytest.approx(math.log(2000.0), abs=1e-7)
    np.testing.assert_array_equal(trajectory.time_points, np.arange(SMALL_N) * (SMALL_TOF / SMALL_N))
    craft = Spacecraft()
    np.testing.assert_allclose(trajectory.positions[[0, -1]],
                               [craft.initial_position, craft.target_position], atol=1e-4)
    np.testing.assert_allclose(trajectory.velocities[[0, -1]],
                               [craft.initial_velocity, craft.target_velocity], atol=1e-5)
    np.testing.assert_allclose(trajectory.thrusts, np.linalg.norm(u, axis=1) * np.exp(z), rtol=1e-13)
    np.testing.assert_allclose(trajectory.normalized_thrusts, trajectory.thrusts / 24000.0, rtol=1e-15)
    assert np.all(np.linalg.norm(u, axis=1) <= trajectory.s_values + 1e-6)
    # A keyword, a subclass and bounds a fixed time of flight ignores give the same trajectory.
    class LandingConfig(Config):
        pass

    bounded = Solver(n=SMALL_N, time_of_flight=SMALL_TOF, tof_min=math.nan, tof_max=-5.0)
    result = solve(config=LandingConfig(solver=bounded))
    for name in (*NODE_ARRAYS, "final_mass"):
        assert array_bits(getattr(result, name)) == array_bits(getattr(trajectory, name)), name


def test_every_read_is_a_new_array_that_outlives_the_trajectory():
    result = solve(small_config())
    arrays = {name: getattr(result, name) for name in NODE_ARRAYS}
    copies = {name: array.copy() for name, array in arrays.items()}
    for name, array in arrays.items():
        again = getattr(result, name)
        assert again is not array and again.base is not array.base
        again[...] = -1.0
    del result
    gc.collect()
    _churn = [solve(small_config(n=10)).positions for _ in range(3)]
    for name, array in arrays.items():
        np.testing.assert_array_equal(array, copies[name])


# 0.8 N of thrust cannot hold a 2000 kg lander at any time of flight; its automatic bracket
# is [|v0| / (0.8 / 300), 1700 / (0.0005 * 0.2)], and applies when only one bound is set.
@pytest.mark.parametrize("craft, solver, interval", [
    (Spacecraft(), Solver(n=10, tof_min=1.0, tof_max=3.0), "[1.000, 3.000]"),
    (Spacecraft(real_max_thrust=1.0), Solver(n=10), "[15909.903, 17000000.000]"),
    (Spacecraft(real_max_thrust=1.0), Solver(n=10, tof_max=5.0), "[15909.903, 17000000.000]"),
])
def test_search_without_feasible_point(craft, solver, interval):
    error = raised(lambda: solve(Config(spacecraft=craft, solver=solver)))
    assert type(error) is ValueError
    assert str(error) == f"infeasible: no feasible time-of-flight in {interval}"


def test_search_lands_quietly_and_leaves_the_configuration_unchanged(capfd):
    config = Config(solver=Solver(n=15))
    before = config.to_json()
    result = solve(config)
    assert config.to_json() == before and config.solver.time_of_flight is None
    assert result.status in CONVERGED and len(result.time_points) == 15
    assert 1.0 <= result.time_points[1] * 15 <= 2000.0 / 9.6
    np.testing.assert_allclose(result.positions[-1], [0.0, 0.0, 0.0], atol=1e-4)
    solve(small_config(n=10))
    error = raised(lambda: solve(small_config(tof=0.5)))  # infeasible: the solver's status is named
    assert type(error) is ValueError and str(error).split(": ", 1)[1] in (
        "PrimalInfeasible", "AlmostPrimalInfeasible", "DualInfeasible", "AlmostDualInfeasible",
        "MaxIterations", "NumericalError", "InsufficientProgress", "Unsolved")
    assert str(error).startswith("solver status: ") and capfd.readouterr() == ("", "")
