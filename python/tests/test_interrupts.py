"""Work that is interrupted or left behind: the interpreter ending while a daemon thread
plans, Ctrl-C during a solver setup that cannot stop at once, and an executor left after
Ctrl-C. Each scenario runs in its own interpreter; a crash shows as its return code. The
Ctrl-C scenarios restore Python's own handler, which a test run started in the background
inherits as "ignore"."""

import json

import pytest

from conftest import run_python

# A daemon thread planning when the main thread ends: the interpreter, finalising, ends the
# thread where it waits for the interpreter lock. `started` is set once the work is under way.
# (*) A thread ended inside that long first import unwinds many frames before it halts, which
# AddressSanitizer (GCC 12) misreports as a stack overflow in its own sigaltstack call.
DAEMON_AT_EXIT = """
import sys, threading, time
import numpy  # else the first landing's arrays import it in the thread the exit ends (*)
import tarvo

started = threading.Event()
long_fixed = tarvo.Config(solver=tarvo.Solver(n=6000, time_of_flight=50.0))
small = [tarvo.Config(solver=tarvo.Solver(n=60, time_of_flight=40.0 + 0.01 * i)) for i in range(20000)]

def busy_progress(*args):
    started.set()
    sum(range(2000))  # Python work, so that the thread often gives up the lock in here

def in_process_dask():
    from dask.distributed import Client, LocalCluster
    client = Client(LocalCluster(processes=False, n_workers=1, threads_per_worker=2,
                                 dashboard_address=None, silence_logs=50))
    futures = client.map(tarvo.plan, [long_fixed] * 4, pure=False)
    started.set()
    tarvo.plan_many(small, executor=client.get_executor(), progress=busy_progress)

def first_then(call):
    return lambda: (started.set(), call())

scenarios = {
    "plan": first_then(lambda: tarvo.plan(long_fixed)),
    "plan with progress": lambda: tarvo.plan(tarvo.Config(solver=tarvo.Solver(n=400)),
                                             progress=busy_progress),
    "plan_many": first_then(lambda: tarvo.plan_many([long_fixed] * 4, workers=2)),
    "plan_many with progress": lambda: tarvo.plan_many(small, workers=2, progress=busy_progress),
    "in-process Dask cluster": in_process_dask,
}
threading.Thread(target=scenarios[sys.argv[1]], daemon=True).start()
started.wait(60)
time.sleep(0.3)
print("main thread ends", flush=True)
"""


@pytest.mark.parametrize("scenario", ["plan", "plan with progress", "plan_many",
                                      "plan_many with progress", "in-process Dask cluster"])
def test_interpreter_exit_with_planning_in_a_daemon_thread(scenario):
    if scenario.startswith("in-process"):
        pytest.importorskip("dask.distributed")
    completed = run_python(DAEMON_AT_EXIT, scenario, timeout=180)
    assert completed.returncode == 0, completed.stderr[-2000:]
    assert completed.stdout == "main thread ends\n"
    assert "terminate" not in completed.stderr and "Fatal Python error" not in completed.stderr


# Ctrl-C while the solver sets up a large problem (ordering and factorising its KKT system,
# seconds at this size, with no point to stop at): the call raises at once and leaves the
# setup to end on its own. An interrupt that falls in the assembly, before the setup, stops
# the work before the call returns; a later one is tried then.
CTRL_C_IN_SETUP = """
import json, os, signal, threading, time
import numpy  # its own threads start here, before the count
import tarvo

signal.signal(signal.SIGINT, signal.default_int_handler)

def threads():
    with open("/proc/self/status") as status:
        return next(int(line.split()[1]) for line in status if line.startswith("Threads:"))

large = tarvo.Config(solver=tarvo.Solver(n=40000, time_of_flight=50.0))
baseline = threads()
report = {"left_running": False}
for delay in (0.3, 0.6, 1.2, 2.4):
    timer = threading.Timer(delay, os.kill, (os.getpid(), signal.SIGINT))
    timer.start()
    try:
        tarvo.plan(large)
        report["finished"] = delay
        break
    except KeyboardInterrupt:
        timer.join()
    if threads() > baseline:
        report["left_running"] = True
        break
deadline = time.monotonic() + 600
while threads() > baseline and time.monotonic() < deadline:
    time.sleep(0.05)  # the setup ends, sees the cancel flag and its thread ends
report["threads"] = [baseline, threads()]
report["works"] = tarvo.plan(tarvo.Config(solver=tarvo.Solver(n=20, time_of_flight=60.0))).ok
print(json.dumps(report))
"""


def test_ctrl_c_during_a_solver_setup_returns_and_the_setup_ends_on_its_own():
    completed = run_python(CTRL_C_IN_SETUP, timeout=900)
    assert completed.returncode == 0, completed.stderr[-2000:]
    report = json.loads(completed.stdout)
    assert report["left_running"], report  # the call did not wait for the setup
    assert report["threads"][0] == report["threads"][1] and report["works"], report


# Ctrl-C (to this process only, as a notebook's interrupt sends it) while a process pool
# plans: the call cancels the batch's pending chunks and shuts the pool down without
# waiting for the chunks it runs, so the `with` block is left while they still run.
CTRL_C_ON_A_PROCESS_POOL = """
import json, multiprocessing, os, signal, threading
from concurrent.futures import ProcessPoolExecutor
import tarvo

signal.signal(signal.SIGINT, signal.default_int_handler)
configs = [tarvo.Config(solver=tarvo.Solver(n=150, time_of_flight=40.0 + 0.01 * i)) for i in range(400)]
started = threading.Event()

def progress(done, total):
    if not started.is_set():
        started.set()
        threading.Timer(0.2, os.kill, (os.getpid(), signal.SIGINT)).start()

try:
    with ProcessPoolExecutor(2) as executor:
        tarvo.plan_many(configs, executor=executor, chunksize=6, progress=progress)
    outcome = "finished"
except KeyboardInterrupt:
    outcome = "interrupted"
still_running = len(multiprocessing.active_children())
try:
    executor.submit(print)
    accepts_work = True
except RuntimeError:
    accepts_work = False
print(json.dumps({"outcome": outcome, "still_running": still_running, "accepts_work": accepts_work}))
"""


def test_ctrl_c_leaves_a_process_pool_without_waiting_for_its_running_chunks():
    completed = run_python(CTRL_C_ON_A_PROCESS_POOL, timeout=300)
    assert completed.returncode == 0, completed.stderr[-2000:]
    report = json.loads(completed.stdout)
    assert report["outcome"] == "interrupted" and not report["accepts_work"], report
    assert report["still_running"] > 0, report  # left before its running chunks ended
