"""The planning engine under tarvo.plan and plan_many: with the nodes method tarvo.solve's
numbers bit for bit on any number of threads, the interpreter lock released, Ctrl-C, failing
callbacks, the options, the Landing it makes, and bad input."""

import inspect
import json
import math
import threading
import time
from concurrent.futures import ThreadPoolExecutor

import pytest

from conftest import run_python, small_config, solve_outcome
from landing_checks import NODE_ARRAYS, array_bits, config_bits, value_bits
from tarvo import Config, Environment, Solver, Spacecraft, _engine, plan, plan_many, solve
from tarvo.landing.engine import engine_options, solve_batch
from tarvo._portable import to_portable

NODES = engine_options("nodes")


def status_of_solve_failure(message):
    """The status a landing of the nodes method has for tarvo.solve's failure text."""
    if message.startswith("solver status: "):
        return message.removeprefix("solver status: ")
    kinds = {"infeasible:": "Infeasible", "solver construction error:": "SolverError"}
    return next((kind for start, kind in kinds.items() if message.startswith(start)), "InvalidInput")


def searched(n=8, **solver):
    return Config(solver=Solver(n=n, **solver))


CASES = {
    "fixed": small_config(),
    "fixed one node": small_config(n=1),
    "fixed tilted gravity, glide slope, speed limit": Config(
        Spacecraft(max_velocity=60.0, initial_position=[300.0, 200.0, 1500.0]),
        Environment(gravity=[0.3, -0.2, -3.71], glide_slope_angle_deg=5.0),
        Solver(n=15, time_of_flight=55.0)),
    "fixed infeasible": small_config(tof=1.0),
    "fixed zero time": small_config(tof=0.0),
    "fixed NaN wet mass": Config(Spacecraft(wet_mass=math.nan), solver=Solver(n=6, time_of_flight=40.0)),
    "fixed n = 0": small_config(n=0),
    "fixed n too large": small_config(n=2**40),
    "search within bounds": searched(tof_min=30.0, tof_max=90.0),
    "search speed limit and glide slope": Config(
        Spacecraft(max_velocity=80.0), Environment(glide_slope_angle_deg=10.0), Solver(n=8)),
    "search infeasible bounds": searched(tof_min=0.5, tof_max=1.0),
    "search reversed bounds": searched(tof_min=90.0, tof_max=30.0),
    "search NaN bound": searched(tof_min=math.nan, tof_max=80.0),
    "search n = 0": searched(n=0),
    "search n too large": searched(n=2**63),
}


@pytest.fixture(scope="module")
def serial_landings():
    return {case: solve_batch([config], workers=1, options=NODES)[0] for case, config in CASES.items()}


@pytest.mark.parametrize("case", list(CASES))
def test_nodes_method_equals_solve_for_any_thread_count(case, serial_landings):
    config, serial = CASES[case], serial_landings[case]
    trajectory, message = solve_outcome(config)
    for landing in [plan(config, method="nodes"),
                    *(_engine.plan(config, workers=w, **NODES) for w in (1, 2, 7))]:
        assert config_bits(landing.config) == config_bits(config)
        if message is not None:
            assert (landing.ok, landing.status, landing.message) == (
                False, status_of_solve_failure(message), message)
            assert landing.solver is None and math.isnan(landing.final_mass + landing.time_of_flight)
            assert landing.positions.shape == (0, 3) and landing.time_points.shape == (0,)
        else:
            assert landing.ok and landing.message is None and landing.status == trajectory.status
            for name in NODE_ARRAYS:
                assert array_bits(getattr(landing, name)) == array_bits(getattr(trajectory, name)), name
            assert value_bits((landing.objective, landing.final_mass)) == value_bits(
                (trajectory.objective, trajectory.final_mass))
            assert landing.miss_distance == 0.0 and len(landing.solver) == 4 and landing.iterations > 0
            assert landing.trials[-1] == (landing.time_of_flight, trajectory.status, trajectory.final_mass)
        # The same trials, in the same order, whatever the number of threads; speculative
        # trials only add to the iterations.
        assert value_bits(landing.trials) == value_bits(serial.trials)
        assert landing.iterations >= serial.iterations
    if config.solver.time_of_flight is None:
        # A search: 36 trials when it lands, the 13 grid points when none is feasible, none
        # when n is unusable.
        assert len(serial.trials) == (36 if serial.ok else 0 if serial.status == "InvalidInput" else 13)
    if serial.ok:  # its time of flight is exact: solving at it gives the very same landing
        at = Config(config.spacecraft, config.environment,
                    Solver(n=config.solver.n, time_of_flight=serial.time_of_flight))
        assert array_bits(solve(at).z_values) == array_bits(serial.z_values)


@pytest.mark.parametrize("workers", [1, 2])
def test_a_raising_progress_stops_the_plan_with_its_exception(workers):
    seen = []

    def stop_at_third(trial):
        seen.append(trial)
        if len(seen) == 3:
            raise LookupError("enough")

    with pytest.raises(LookupError, match="enough"):
        _engine.plan(searched(n=30), workers=workers, on_trial=stop_at_third)
    assert len(seen) == 3


def running_threads():
    with open("/proc/self/status") as status:
        return next(int(line.split()[1]) for line in status if line.startswith("Threads:"))


def settled_threads(expected, seconds=1.0):
    """The thread count once it is `expected`, or after `seconds`: a joined thread may
    linger in the count for a moment after its join returned."""
    deadline = time.monotonic() + seconds
    while (count := running_threads()) != expected and time.monotonic() < deadline:
        time.sleep(0.01)
    return count


# One planning thread each, so that a core is left for the ticking thread on a busy machine.
@pytest.mark.parametrize("call", [
    lambda: plan(small_config(n=500)),
    lambda: _engine.plan(searched(n=25), workers=1),
    lambda: plan_many([small_config(n=150, tof=40.0 + i) for i in range(8)], workers=1),
], ids=["fixed", "search", "batch"])
def test_another_thread_runs_during_planning(call):
    ticks, stop = [], threading.Event()

    def tick():
        while not stop.is_set():
            ticks.append(time.monotonic())
            time.sleep(0.001)

    ticker = threading.Thread(target=tick)
    ticker.start()
    time.sleep(0.01)
    threads_before, start = running_threads(), time.monotonic()
    call()
    end = time.monotonic()
    assert settled_threads(threads_before) == threads_before  # every engine thread ended
    stop.set()
    ticker.join()
    # With the lock held for the call, no tick could fall inside it.
    margin = (end - start) * 0.1
    assert len([t for t in ticks if start + margin < t < end - margin]) >= 5


CTRL_C = "\n".join([
    "import json, os, signal, threading, time",
    "import numpy  # its own threads start here, before the count",
    "import tarvo",
    inspect.getsource(running_threads), inspect.getsource(settled_threads), """
runs = [lambda: tarvo.plan(tarvo.Config(solver=tarvo.Solver(n=2000, time_of_flight=50.0))),
        lambda: tarvo.plan(tarvo.Config(solver=tarvo.Solver(n=1500))),
        lambda: tarvo.plan_many([tarvo.Config(solver=tarvo.Solver(n=1000, time_of_flight=50.0 + i))
                                 for i in range(8)], workers=2)]
baseline, interrupted = running_threads(), 0
for run in runs:
    timer = threading.Timer(0.3, os.kill, (os.getpid(), signal.SIGINT))
    timer.start()
    try:
        run()
    except KeyboardInterrupt:
        interrupted += 1
    timer.join()
works = tarvo.plan(tarvo.Config(solver=tarvo.Solver(n=20, time_of_flight=60.0))).ok
print(json.dumps([interrupted, works, baseline, settled_threads(baseline)]))
"""])


def test_ctrl_c_stops_a_long_solve_a_search_and_a_batch():
    completed = run_python(CTRL_C, timeout=120)
    assert completed.returncode == 0, completed.stderr
    # Each run ended with KeyboardInterrupt (how quickly is measured in bench/), every engine
    # thread ended and the engine still plans.
    interrupted, works, baseline, after = json.loads(completed.stdout)
    assert (interrupted, works, after) == (3, True, baseline)


@pytest.mark.parametrize("value", [to_portable(small_config()), None, Solver(), Config])
def test_anything_but_a_config_is_refused(value):
    called = []
    with pytest.raises(TypeError, match=f"config must be a tarvo.Config, not {type(value).__name__}"):
        _engine.plan(value, on_trial=called.append)
    results = _engine.plan_batch([small_config(n=10), value], on_landing=called.append)
    assert called == [0] and results[0].ok and type(results[1]) is TypeError
    assert str(results[1]) == f"configs[1] must be a tarvo.Config, not {type(value).__name__}"


@pytest.mark.parametrize("options, error, match", [
    ({"accuracy": "best"}, ValueError, "accuracy must be 'default' or 'high', not 'best'"),
    ({"unreachable": "nearest"}, ValueError, "unreachable must be 'fail' or 'closest'"),
    ({"workers": 0}, ValueError, "workers must be from 1 to 1024, got 0"),
    ({"workers": 2**70}, ValueError, "workers must be from 1 to 1024"),
    ({"workers": 2.0}, TypeError, "workers must be an int or None, not float"),
    ({"on_trial": 3}, TypeError, "on_trial must be a callable or None, not int"),
])
def test_engine_options(options, error, match):
    with pytest.raises(error, match=match):
        _engine.plan(small_config(), **options)


@pytest.mark.parametrize("call", [plan, lambda config, **options: plan_many([config], **options)],
                         ids=["plan", "plan_many"])
@pytest.mark.parametrize("options, match", [
    ({"method": None}, "method must be 'continuous' or 'nodes', not None"),
    ({"accuracy": "standard"}, "accuracy must be 'default' or 'high', not 'standard'"),
    ({"unreachable": "nearest"}, "unreachable must be 'fail' or 'closest', not 'nearest'"),
])
def test_api_options(call, options, match):
    with pytest.raises(ValueError, match=match):
        call(small_config(), **options)


def test_options_reach_the_core_locally_and_through_an_executor():
    # Out of reach in 60 s: 10 km from the target with 300 kg of fuel.
    far = Config(Spacecraft(fuel=300.0, initial_position=[10000.0, 0.0, 2400.0]),
                 solver=Solver(n=15, time_of_flight=60.0))
    standard = plan(small_config(), method="nodes").solver.gap_abs
    with ThreadPoolExecutor(1) as executor:
        for pool in (None, executor):
            (landing,) = plan_many([far], executor=pool, method="nodes", unreachable="closest")
            assert landing.ok and landing.method == "nodes" and landing.miss_distance > 100.0
            assert landing.message.startswith("target out of reach") and not plan(far).ok
            high = plan_many([small_config()], executor=pool, method="nodes", accuracy="high")[0]
            assert high.ok and high.solver.gap_abs < standard
    # The continuous method plans at high accuracy unless told otherwise.
    assert plan(small_config()).solver.gap_abs < standard


def test_internal_faults_raise_the_panic_exception_of_tarvo_tarvo():
    run = run_python("""
        import sys
        sys.modules["numpy"] = None  # the arrays of a landing cannot be made
        from tarvo import _engine, _tarvo
        config = _tarvo.Config(solver=_tarvo.Solver(n=12, time_of_flight=40.0))
        try:
            _engine.plan(config)
        except _tarvo.PanicException as fault:
            print("numpy" in str(fault))
        results = _engine.plan_batch([config, _tarvo.Config(solver=_tarvo.Solver(n=0))])
        print(all(type(result) is _tarvo.PanicException for result in results))
    """)
    assert run.returncode == 0, run.stderr
    assert run.stdout.split() == ["True"] * 2, run.stdout
