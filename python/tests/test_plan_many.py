"""tarvo.plan_many: order, failures kept per entry, bad input, progress, and executors that
fail, are interrupted or lose a worker process."""

import multiprocessing
import os
import sys
from concurrent.futures import Future, ProcessPoolExecutor, ThreadPoolExecutor

import pytest

import tarvo.landing.engine
from conftest import small_config
from landing_checks import assert_same_landing, config_bits, is_worker_failure
from tarvo import Config, Solver, plan, plan_many

# Feasible and failing entries interleaved: fixed times of flight, an infeasible one, n = 0.
MIXED = [small_config(n=12, tof=40.0 + 5 * i) for i in range(6)]
MIXED[2] = small_config(n=12, tof=1.0)
MIXED[4] = small_config(n=0)


@pytest.fixture(scope="module")
def expected():
    return [plan(config) for config in MIXED]


def assert_same_landings(landings, expected):
    assert len(landings) == len(expected)
    for landing, reference in zip(landings, expected):
        assert_same_landing(landing, reference)


def interrupt(done, total):
    raise KeyboardInterrupt


class Recorded(ThreadPoolExecutor):
    """A pool that records how it is shut down, the tasks it was given, and the most it held
    unfinished at once; `terminate_workers` as Python 3.14's process pool has it."""

    def __init__(self, workers=3):
        super().__init__(workers)
        self.calls, self.futures, self.most = [], [], 0

    def submit(self, fn, /, *args, **kwargs):
        self.most = max(self.most, sum(not future.done() for future in self.futures) + 1)
        self.futures.append(super().submit(fn, *args, **kwargs))
        return self.futures[-1]

    def shutdown(self, wait=True, *, cancel_futures=False):
        self.calls.append(("shutdown", wait, cancel_futures))
        super().shutdown(wait, cancel_futures=cancel_futures)

    def terminate_workers(self):
        self.calls.append(("terminate_workers",))


class ShutdownWithoutCancel(Recorded):
    """A pool whose shutdown takes `wait` only, and that cannot end its workers, as Dask's."""
    terminate_workers = None

    def shutdown(self, wait=True):
        self.calls.append(("shutdown", wait))
        ThreadPoolExecutor.shutdown(self, wait)


@pytest.mark.parametrize("workers", [None, 1, 2, 7])
def test_input_order_and_failures_kept(expected, workers):
    landings = plan_many(iter(MIXED), workers=workers)  # any iterable
    assert_same_landings(landings, expected)
    assert not landings[2].ok and landings[4].status == "InvalidInput"
    assert {landing.method for landing in landings} == {"continuous"}
    assert plan_many([]) == [] and plan_many(()) == []


def test_an_entry_that_fails_alone_keeps_the_others(expected, monkeypatch):
    plan_batch = tarvo.landing.engine._engine.plan_batch

    class Engine:
        @staticmethod
        def plan_batch(*args, **kwargs):
            results = plan_batch(*args, **kwargs)
            results[1] = MemoryError("no room")  # what the engine returns for that entry
            return results

    monkeypatch.setattr(tarvo.landing.engine, "_engine", Engine)
    landings = plan_many(MIXED, workers=2)
    assert is_worker_failure(landings[1])
    assert landings[1].message == "planning raised MemoryError: no room"
    assert_same_landings(landings[:1] + landings[2:], expected[:1] + expected[2:])


@pytest.mark.parametrize("configs, index, kind", [
    ([Config(), Config(), None], 2, "NoneType"), ([Solver()], 0, "Solver"), (["{}"], 0, "str"),
    ([Config(), Config, Config()], 1, "type"),
])
def test_non_config_entry_is_named_before_any_work(configs, index, kind):
    with Recorded(1) as executor:
        with pytest.raises(TypeError, match=rf"configs\[{index}\] is a {kind}, not a Config"):
            plan_many(configs, executor=executor)
    assert executor.futures == []


@pytest.mark.parametrize("kwargs, error, match", [
    ({"configs": small_config()}, TypeError, "use plan"),  # one configuration is not a batch
    ({"workers": 0}, ValueError, "workers must be at least 1, got 0"),
    ({"workers": 1.5}, TypeError, "workers must be an int, not float"),
    ({"workers": True}, TypeError, "workers must be an int, not bool"),
    ({"chunksize": 0}, ValueError, "chunksize must be at least 1"),
    ({"chunksize": 2.0}, TypeError, "chunksize must be an int"),
    ({"workers": 2, "executor": ThreadPoolExecutor(1)}, ValueError, "size the executor"),
    ({"executor": object()}, TypeError, "executor must be a concurrent.futures.Executor"),
    ({"progress": "bar"}, TypeError, "progress must be True, False or a callable"),
])
def test_bad_arguments(kwargs, error, match):
    with pytest.raises(error, match=match):
        plan_many(**{"configs": [small_config()], **kwargs})


@pytest.mark.parametrize("executor", [None, ThreadPoolExecutor(2)], ids=["local", "executor"])
def test_progress_callable_receives_counts(executor):
    counts = []
    plan_many(MIXED, executor=executor, chunksize=2 if executor else None,
              progress=lambda done, total: counts.append((done, total)))
    assert counts[-1] == (6, 6) and all(total == 6 for _, total in counts)
    assert [done for done, _ in counts] == sorted({done for done, _ in counts})


def test_progress_bar_on_stderr_and_without_tqdm(capsys, monkeypatch):
    plan_many(MIXED[:2], progress=True)
    assert "2/2" in capsys.readouterr().err
    monkeypatch.setitem(sys.modules, "tqdm", None)
    with pytest.raises(ImportError, match=r"pip install tarvo\[progress\]"):
        plan_many(MIXED, progress=True)


def test_interrupt_of_the_local_pool_raises_at_once():
    with pytest.raises(KeyboardInterrupt):
        plan_many([small_config(n=12)] * 40, workers=2, progress=interrupt)


@pytest.mark.parametrize("executor, calls", [
    (Recorded, [("shutdown", False, True), ("terminate_workers",)]),
    (ShutdownWithoutCancel, [("shutdown", False)]),
], ids=["cancel_futures and terminate_workers", "wait only"])
def test_ctrl_c_shuts_the_executor_down_without_waiting(executor, calls):
    executor = executor()
    with pytest.raises(KeyboardInterrupt):
        plan_many(MIXED * 4, executor=executor, chunksize=1, progress=interrupt)
    assert executor.calls == calls
    executor.shutdown()


def test_other_failures_leave_the_executor_running():
    with Recorded() as executor:
        with pytest.raises(ZeroDivisionError):
            plan_many(MIXED, executor=executor, chunksize=1, progress=lambda done, total: 1 / 0)
        assert executor.calls == [] and len(plan_many(MIXED, executor=executor)) == len(MIXED)


def test_a_bounded_number_of_chunks_in_flight(expected, monkeypatch):
    monkeypatch.setattr(tarvo.landing.batch, "MAX_IN_FLIGHT", 2)
    with Recorded() as executor:
        landings = plan_many(MIXED, executor=executor, chunksize=1)
    assert executor.most == 2
    assert_same_landings(landings, expected)


def second_task_replaced(base, replacement, *args, **kwargs):
    """An executor of class ``base`` whose second task is ``replacement(submit)``: what the
    executor's own ``submit`` makes of something else, or a future made by hand."""
    class Executor(base):
        calls = 0

        def submit(self, fn, /, *task_args, **task_kwargs):
            self.calls += 1
            if self.calls == 2:
                return replacement(super().submit)
            return super().submit(fn, *task_args, **task_kwargs)
    return Executor(*args, **kwargs)


def fail_in_the_task():
    raise RuntimeError("worker lost")


def cancelled(submit):
    """A task cancelled as Dask cancels one: without a word."""
    future = Future()
    future.cancel()
    future.set_running_or_notify_cancel()
    return future


@pytest.mark.parametrize("replacement, reason", [
    (lambda submit: submit(fail_in_the_task), "RuntimeError: worker lost"),
    (cancelled, "CancelledError: the executor cancelled the task before it returned "
                "(it was shut down, or its cluster dropped the task)"),
    (lambda submit: submit(list), "the task returned 0 values for 2 configurations"),
    (lambda submit: submit(str, "landings"), "the task returned a str for 2 configurations"),
], ids=["raises", "cancelled", "too few", "wrong kind"])
def test_failed_chunk_becomes_failed_entries(expected, replacement, reason):
    with second_task_replaced(ThreadPoolExecutor, replacement, 2) as executor:
        landings = plan_many(MIXED, executor=executor, chunksize=2)
    assert all(is_worker_failure(landing) for landing in landings[2:4])
    assert landings[2].message == f"the executor failed on entries 2 to 3: {reason}"
    assert_same_landings(landings[:2] + landings[4:], expected[:2] + expected[4:])


def test_executor_that_refuses_work(monkeypatch):
    executor = ThreadPoolExecutor(1)
    executor.shutdown()
    monkeypatch.setattr(tarvo.landing.batch, "MAX_IN_FLIGHT", 2)
    for chunksize in (1, 4):
        landings = plan_many(MIXED, executor=executor, chunksize=chunksize)
        assert len(landings) == 6 and all(is_worker_failure(landing) for landing in landings)
    assert landings[5].message.startswith("the executor failed on entries 4 to 5: RuntimeError: ")
    assert [config_bits(landing.config) for landing in landings] == list(map(config_bits, MIXED))
    single = plan_many(MIXED[:1], executor=executor)[0]
    assert single.message.startswith("the executor failed on entry 0: RuntimeError: ")


def test_worker_process_killed_mid_batch():
    with second_task_replaced(ProcessPoolExecutor, lambda submit: submit(os._exit, 3), 1,
                              mp_context=multiprocessing.get_context("spawn")) as executor:
        landings = plan_many(MIXED, executor=executor, chunksize=2, method="nodes")
    # The landings of the first chunk, planned with the options it carried.
    assert_same_landings(landings[:2], [plan(config, method="nodes") for config in MIXED[:2]])
    assert all(is_worker_failure(landing) for landing in landings[2:])
    assert "entries 2 to 3: BrokenProcessPool" in landings[2].message
    assert "terminated abruptly" in landings[2].message
