"""The planning engine under tarvo.plan and plan_many: with the nodes method the numbers of
tarvo.solve bit for bit for any number of threads, trials in order, the interpreter lock released while it works,
Ctrl-C and failing callbacks, batches that keep every entry, and bad portable input."""

import json
import math
import re
import threading
import time
from concurrent.futures import ThreadPoolExecutor

import pytest

import tarvo
from conftest import run_python, small_config, solve_outcome
from landing_checks import NODE_ARRAYS, array_bits, config_bits, value_bits
from tarvo import Config, Environment, Solver, Spacecraft, _engine, plan, plan_many, solve
from tarvo.landing.engine import engine_options
from tarvo._portable import to_portable

nan, inf = math.nan, math.inf
NODES = engine_options("nodes")


def status_of_solve_failure(message):
    """The status a landing of the nodes method has for tarvo.solve's failure text."""
    if message.startswith("solver status: "):
        return message[len("solver status: "):]
    if message.startswith("infeasible:"):
        return "Infeasible"
    if message.startswith("solver construction error:"):
        return "SolverError"
    return "InvalidInput"


def searched(n=8, **solver):
    return Config(solver=Solver(n=n, **solver))


CASES = {
    "fixed": small_config(),
    "fixed one node": small_config(n=1),
    "fixed two nodes": small_config(n=2),
    "fixed tilted gravity, glide slope, speed limit": Config(
        Spacecraft(max_velocity=60.0, initial_position=[300.0, 200.0, 1500.0]),
        Environment(gravity=[0.3, -0.2, -3.71], glide_slope_angle_deg=5.0),
        Solver(n=15, time_of_flight=55.0)),
    "fixed infeasible": small_config(tof=1.0),
    "fixed zero time": small_config(tof=0.0),
    "fixed negative time": small_config(tof=-5.0),
    "fixed infinite time": small_config(tof=inf),
    "fixed NaN wet mass": Config(Spacecraft(wet_mass=nan), solver=Solver(n=6, time_of_flight=40.0)),
    "fixed NaN gravity": Config(environment=Environment(gravity=[0.0, nan, -3.71]),
                                solver=Solver(n=6, time_of_flight=40.0)),
    "fixed n = 0": small_config(n=0),
    "fixed n too large": small_config(n=2**40),
    "search within bounds": searched(tof_min=30.0, tof_max=90.0),
    "search auto bracket": searched(n=6),
    "search light vehicle": Config(Spacecraft(wet_mass=1500.0, fuel=1000.0), solver=Solver(n=7)),
    "search speed limit and glide slope": Config(
        Spacecraft(max_velocity=80.0), Environment(glide_slope_angle_deg=10.0), Solver(n=8)),
    "search infeasible bounds": searched(tof_min=0.5, tof_max=1.0),
    "search reversed bounds": searched(tof_min=90.0, tof_max=30.0),
    "search NaN bound": searched(tof_min=nan, tof_max=80.0),
    "search n = 0": searched(n=0),
    "search n too large": searched(n=2**63),
}


@pytest.fixture(scope="module")
def serial_landings():
    return {case: tarvo.landing.engine.solve_batch([to_portable(config)], workers=1,
                                                   options=NODES)[0]
            for case, config in CASES.items()}


class TestSameNumbersAsSolve:
    @pytest.mark.parametrize("case", list(CASES))
    def test_plan_equals_solve_for_any_thread_count(self, case, serial_landings):
        config = CASES[case]
        trajectory, message = solve_outcome(config)
        for landing in [plan(config, method="nodes"),
                        *(_plan_with_workers(config, w) for w in (1, 2, 7))]:
            assert config_bits(landing.config) == config_bits(config)
            if message is not None:
                assert (landing.ok, landing.status, landing.message) == (
                    False, status_of_solve_failure(message), message)
                assert landing.solver is None and math.isnan(landing.final_mass)
                assert math.isnan(landing.time_of_flight)
                assert landing.positions.shape == (0, 3) and landing.time_points.shape == (0,)
            else:
                assert landing.ok and landing.message is None
                assert landing.status == trajectory.status
                for name in NODE_ARRAYS:
                    assert array_bits(getattr(landing, name)) == array_bits(
                        getattr(trajectory, name)), name
                assert value_bits((landing.objective, landing.final_mass)) == value_bits(
                    (trajectory.objective, trajectory.final_mass))
                assert landing.miss_distance == 0.0 and len(landing.solver) == 4
                assert landing.trials[-1] == (
                    landing.time_of_flight, trajectory.status, trajectory.final_mass)
                fixed = config.solver.time_of_flight
                if fixed is not None:
                    assert value_bits(landing.time_of_flight) == value_bits(fixed)
                else:  # the searched time of flight, exactly the one whose time step the nodes have
                    assert value_bits(landing.time_of_flight / config.solver.n) == value_bits(
                        float(trajectory.time_points[1]))
            # The same trials, in the same order, whatever the number of threads; speculative
            # trials only add to the iterations.
            assert value_bits(landing.trials) == value_bits(serial_landings[case].trials)
            assert landing.iterations >= serial_landings[case].iterations

    @pytest.mark.parametrize("case", [case for case in CASES if case.startswith("search")])
    def test_search_trials_and_exact_time_of_flight(self, case, serial_landings):
        landing = serial_landings[case]
        config = CASES[case]
        if not landing.ok:
            # No trial when n is unusable; the 13 grid points when none is feasible.
            assert len(landing.trials) == (0 if landing.status == "InvalidInput" else 13)
            return
        assert len(landing.trials) == 36 and landing.trials[-1].time_of_flight == landing.time_of_flight
        assert landing.iterations > 0
        # The searched time of flight is exact: solving at it gives the very same landing.
        fixed = Config(config.spacecraft, config.environment,
                       Solver(n=config.solver.n, time_of_flight=landing.time_of_flight))
        assert array_bits(solve(fixed).z_values) == array_bits(landing.z_values)

    def test_batch_equals_single_plans(self, serial_landings):
        configs = list(CASES.values())
        for workers in (1, 3):
            landings = plan_many(configs, workers=workers, method="nodes")
            for landing, case in zip(landings, CASES):
                reference = serial_landings[case]
                assert (landing.ok, landing.status, landing.message) == (
                    reference.ok, reference.status, reference.message)
                assert array_bits(landing.z_values) == array_bits(reference.z_values)
                assert value_bits(landing.trials) == value_bits(reference.trials)


def _plan_with_workers(config, workers):
    result = _engine.plan(to_portable(config), workers=workers, **NODES)
    return tarvo.landing.engine._landing(to_portable(config), result, "nodes")


class TestCallbacks:
    def test_trials_arrive_in_order_as_the_landing_records_them(self):
        seen = []
        landing = plan(searched(), method="nodes", progress=seen.append)
        assert len(seen) == 36 and tuple(seen) == landing.trials

    def test_engine_reports_iterations_of_each_trial(self):
        seen = []
        result = _engine.plan(to_portable(searched()), workers=1,
                              on_trial=lambda *trial: seen.append(trial))
        assert seen == result["trials"] and all(len(trial) == 6 for trial in seen)
        # The plan's count also holds the iterations of the trials that failed.
        assert 0 < sum(trial[3] for trial in seen) <= result["iterations"]
        assert all(trial[3] == 0 for trial in seen if trial[2] == -inf)

    @pytest.mark.parametrize("method, craft, tof, failure, solver_status", [
        ("nodes", {}, 5.0, "SolverStatus", "PrimalInfeasible"),
        # A thrust that must keep its size while it turns cannot hold between the nodes.
        ("continuous", {"min_thrust_pct": 0.8}, 50.0, "Infeasible", None),
    ])
    def test_each_trial_carries_its_failure_kind(self, method, craft, tof, failure,
                                                 solver_status):
        config = Config(Spacecraft(**craft), solver=Solver(n=20, time_of_flight=tof))
        result = _engine.plan(to_portable(config), **engine_options(method))
        (trial,) = result["trials"]
        assert trial[4:] == (failure, solver_status) == (result["failure"],
                                                         result["solver_status"])
        assert trial[1] == result["status"] and trial[2] == -inf
        landed = _engine.plan(to_portable(small_config()), **engine_options(method))
        assert landed["trials"][-1][4:] == (None, None)
        landing = plan(config, method=method)
        assert landing.trials[0].status == landing.status == (solver_status or failure)

    @pytest.mark.parametrize("workers", [1, 2])
    def test_a_raising_progress_stops_the_plan_with_its_exception(self, workers):
        seen = []

        class Stop(Exception):
            pass

        def stop_at_third(trial):
            seen.append(trial)
            if len(seen) == 3:
                raise Stop("enough")

        with pytest.raises(Stop, match="enough"):
            _engine.plan(to_portable(searched(n=30)), workers=workers,
                         on_trial=lambda *trial: stop_at_third(trial))
        assert len(seen) == 3

    def test_a_raising_landing_callback_stops_the_batch(self):
        configs = [small_config(n=150, tof=50.0 + i) for i in range(40)]
        calls = []

        def interrupt(index):
            calls.append(index)
            raise KeyboardInterrupt

        with pytest.raises(KeyboardInterrupt):
            _engine.plan_batch([to_portable(c) for c in configs], workers=2, on_landing=interrupt)
        assert len(calls) == 1


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


class TestLockReleased:
    # One planning thread each, so that a core is left for the ticking thread on a busy machine.
    @pytest.mark.parametrize("call", [
        lambda: plan(small_config(n=500)),
        lambda: _engine.plan(to_portable(searched(n=25)), workers=1),
        lambda: plan_many([small_config(n=150, tof=40.0 + i) for i in range(8)], workers=1),
    ], ids=["fixed", "search", "batch"])
    def test_another_thread_runs_during_planning(self, call):
        ticks, stop = [], threading.Event()

        def tick():
            while not stop.is_set():
                ticks.append(time.monotonic())
                time.sleep(0.001)

        ticker = threading.Thread(target=tick)
        ticker.start()
        time.sleep(0.01)
        threads_before = running_threads()
        start = time.monotonic()
        call()
        end = time.monotonic()
        assert settled_threads(threads_before) == threads_before  # every engine thread ended
        stop.set()
        ticker.join()
        # With the lock held for the call, no tick could fall inside it.
        margin = (end - start) * 0.1
        inside = [t for t in ticks if start + margin < t < end - margin]
        assert len(inside) >= 5, (end - start, len(inside))


CTRL_C = """
import json, os, signal, threading, time
import numpy  # its own threads start here, before the count
import tarvo

fixed = tarvo.Config(solver=tarvo.Solver(n=2000, time_of_flight=50.0))
search = tarvo.Config(solver=tarvo.Solver(n=1500))
batch = [tarvo.Config(solver=tarvo.Solver(n=1000, time_of_flight=50.0 + i)) for i in range(8)]
runs = {"fixed": lambda: tarvo.plan(fixed), "search": lambda: tarvo.plan(search),
        "batch": lambda: tarvo.plan_many(batch, workers=2)}

def threads():
    with open("/proc/self/status") as status:
        return next(int(line.split()[1]) for line in status if line.startswith("Threads:"))

baseline = threads()
latency = {}
for name, run in runs.items():
    sent = []
    def interrupt():
        sent.append(time.monotonic())
        os.kill(os.getpid(), signal.SIGINT)
    timer = threading.Timer(0.3, interrupt)
    timer.start()
    try:
        run()
        latency[name] = "finished before the interrupt"
    except KeyboardInterrupt:
        latency[name] = time.monotonic() - sent[0]
    timer.join()
deadline = time.monotonic() + 1.0
while threads() != baseline and time.monotonic() < deadline:
    time.sleep(0.01)  # a joined thread may linger in the count for a moment
after = threads()
still_works = tarvo.plan(tarvo.Config(solver=tarvo.Solver(n=20, time_of_flight=60.0)),
                         method="nodes").ok
print(json.dumps({"latency": latency, "threads": [baseline, after], "works": still_works}))
"""


def test_ctrl_c_stops_a_long_solve_a_search_and_a_batch():
    completed = run_python(CTRL_C, timeout=120)
    assert completed.returncode == 0, completed.stderr
    report = json.loads(completed.stdout)
    # Each run ended with KeyboardInterrupt; how quickly is measured in bench/interrupt_bench.py.
    assert all(isinstance(seconds, float) for seconds in report["latency"].values()), report
    assert report["threads"][0] == report["threads"][1] and report["works"]


def portable_with(index, value):
    portable = list(to_portable(small_config()))
    portable[index] = value
    return tuple(portable)


BAD_PORTABLES = [
    ([0.0] * 18, TypeError, "a portable configuration is a tuple of 18 values, not list"),
    ((0.0,) * 17, ValueError, "tuple of 18 values, got 17"),
    (portable_with(0, 2000), TypeError, r"field 0 'spacecraft.wet_mass' must be a float, not int"),
    (portable_with(6, "up"), TypeError, r"field 6 'spacecraft.initial_position' must be a tuple"),
    (portable_with(7, (1.0, 2.0)), ValueError, r"field 7 'spacecraft.initial_velocity' must hold 3"),
    (portable_with(11, (0.0, None, -3.7)), TypeError, r"field 11 'environment.gravity' component 1"),
    (portable_with(14, -1), OverflowError, r"field 14 'solver.n' must be from 0 to 2\*\*64 - 1, got -1"),
    (portable_with(14, 2**64), OverflowError, r"field 14 'solver.n' .* got 18446744073709551616"),
    (portable_with(14, 20.0), TypeError, r"field 14 'solver.n' must be an int, not float"),
    (portable_with(14, True), TypeError, r"field 14 'solver.n' must be an int, not bool"),
    (portable_with(15, "60"), TypeError, r"field 15 'solver.time_of_flight' must be None or a float"),
]


class TestBadInput:
    @pytest.mark.parametrize("portable, error, match", BAD_PORTABLES)
    def test_bad_portable_names_the_field(self, portable, error, match):
        called = []
        with pytest.raises(error, match=match):
            _engine.plan(portable, on_trial=lambda *trial: called.append(trial))
        assert called == []

    def test_bad_batch_entries_fail_alone(self):
        good = to_portable(small_config(n=10))
        portables = [good, *(portable for portable, _, _ in BAD_PORTABLES), good]
        finished = []
        results = _engine.plan_batch(iter(portables), workers=2, on_landing=finished.append)
        assert sorted(finished) == [0, len(portables) - 1]
        assert results[0]["ok"] and results[-1]["z_values"].tobytes() == results[0]["z_values"].tobytes()
        for result, (_, error, match) in zip(results[1:-1], BAD_PORTABLES):
            assert type(result) is error and re.search(match, str(result))

    @pytest.mark.parametrize("options, error, match", [
        ({"accuracy": "best"}, ValueError, "accuracy must be 'standard' or 'high', not 'best'"),
        ({"accuracy": None}, TypeError, "accuracy must be a str, not NoneType"),
        ({"unreachable": "nearest"}, ValueError, "unreachable must be 'fail' or 'closest'"),
        ({"workers": 0}, ValueError, "workers must be from 1 to 1024, got 0"),
        ({"workers": 2**70}, ValueError, "workers must be from 1 to 1024"),
        ({"workers": 2.0}, TypeError, "workers must be an int or None, not float"),
        ({"on_trial": 3}, TypeError, "on_trial must be a callable or None, not int"),
        ({"portables": ()}, TypeError, "unexpected keyword argument 'portables'"),
    ])
    def test_engine_options(self, options, error, match):
        with pytest.raises(error, match=match):
            _engine.plan(to_portable(small_config()), **options)

    @pytest.mark.parametrize("call", [plan, lambda config, **options: plan_many([config], **options)],
                             ids=["plan", "plan_many"])
    @pytest.mark.parametrize("options, match", [
        ({"method": "exact"}, "method must be 'continuous' or 'nodes', not 'exact'"),
        ({"method": None}, "method must be 'continuous' or 'nodes', not None"),
        ({"accuracy": "standard"}, "accuracy must be 'default' or 'high', not 'standard'"),
        ({"accuracy": 1}, "accuracy must be 'default' or 'high', not 1"),
        ({"unreachable": "nearest"}, "unreachable must be 'fail' or 'closest', not 'nearest'"),
        ({"unreachable": None}, "unreachable must be 'fail' or 'closest', not None"),
    ])
    def test_api_options(self, call, options, match):
        with pytest.raises(ValueError, match=match):
            call(small_config(), **options)


# Out of reach in 60 s: 10 km from the target with 300 kg of fuel.
FAR = Config(Spacecraft(fuel=300.0, initial_position=[10000.0, 0.0, 2400.0]),
             solver=Solver(n=15, time_of_flight=60.0))


class TestOptionsReachTheCore:
    @pytest.mark.parametrize("method", ["continuous", "nodes"])
    @pytest.mark.parametrize("how", ["plan", "local pool", "executor"])
    def test_closest_landing(self, how, method):
        if how == "plan":
            landing = plan(FAR, method=method, unreachable="closest")
        elif how == "local pool":
            landing = plan_many([FAR], method=method, unreachable="closest")[0]
        else:
            with ThreadPoolExecutor(1) as executor:
                landing = plan_many([FAR], executor=executor, method=method,
                                    unreachable="closest")[0]
        assert landing.ok and landing.method == method and landing.miss_distance > 100.0
        assert landing.message.startswith("target out of reach")
        assert not plan(FAR, method=method).ok

    def test_high_accuracy_closes_the_gap(self):
        standard = plan(small_config(), method="nodes")
        high = plan(small_config(), method="nodes", accuracy="high")
        assert high.ok and high.solver.gap_abs < standard.solver.gap_abs
        # The continuous method plans at high accuracy unless told otherwise.
        assert plan(small_config()).solver.gap_abs < standard.solver.gap_abs

    def test_thrust_pointing_limit_is_checked(self):
        config = Config(environment=Environment(max_angle_deg=-5.0), solver=Solver(n=10, time_of_flight=60.0))
        landing = plan(config)
        assert not landing.ok and "max_angle_deg" in landing.message


def test_internal_faults_raise_the_panic_exception_of_tarvo_tarvo():
    run = run_python("""
        import sys
        sys.modules["numpy"] = None  # the arrays of a landing cannot be made
        from tarvo import _engine, _tarvo
        from tarvo._portable import to_portable
        portable = to_portable(_tarvo.Config(solver=_tarvo.Solver(n=12, time_of_flight=40.0)))
        try:
            _engine.plan(portable)
        except _tarvo.PanicException as fault:
            print(str(fault).startswith("Failed to access NumPy array API capsule"))
        failed = _engine.plan(to_portable(_tarvo.Config(solver=_tarvo.Solver(n=0))))
        print(failed["ok"] is False and failed["positions"] is None)
        results = _engine.plan_batch([portable, portable])
        print(all(type(result) is _tarvo.PanicException for result in results))
    """)
    assert run.returncode == 0, run.stderr
    assert run.stdout.split() == ["True"] * 3, run.stdout
