"""`plan_many`: many landings on the local thread pool or on any `concurrent.futures` executor.

On the local pool the engine reads the configurations themselves. With an executor they
travel in their portable form (`tarvo._portable`), in chunks, to `plan_chunk`, which every
worker can import; the landings come back pickled. A chunk that the executor or its worker
fails to return (a dead process, a lost cluster worker, a refused submission) becomes
failed landings with status "WorkerFailed" and the reason, so no entry is ever missing
from the result.
"""

from __future__ import annotations

import concurrent.futures
import contextlib
import math
import operator
from collections.abc import Callable, Iterable, Iterator, Sequence
from typing import Any

from . import engine
from .landing import Landing
from .._portable import Portable, copy_config, from_portable, to_portable
from .progress import BatchProgress, ProgressArgument, check_progress
from .._tarvo import Config

__all__ = ["plan_many", "plan_chunk", "Batch", "run_tasks", "default_chunksize"]

# Without a chunksize, a batch goes out in about this many chunks, each of at most
# MAX_CHUNK entries: enough chunks to spread over a cluster and move a progress bar, few
# enough that the executor's per-task cost stays small beside the solves.
TARGET_CHUNKS = 64
MAX_CHUNK = 64
# Chunks on an executor at once: enough to keep a large cluster busy, while a batch drawn
# range by range holds no more than these in memory.
MAX_IN_FLIGHT = 256
# Entries the local pool plans per call of a batch drawn range by range: enough that the
# threads seldom wait for the last landing of a block.
LOCAL_BLOCK = 1024


def plan_many(
    configs: Iterable[Config], *, workers: int | None = None,
    executor: concurrent.futures.Executor | None = None,
    progress: ProgressArgument = False, chunksize: int | None = None,
    method: str = "continuous", accuracy: str | None = None, unreachable: str = "fail",
) -> list[Landing]:
    """Plan many landings; the result holds one `Landing` per configuration, in input order.

    By default the landings are planned on a pool of C++ threads in this process, one
    landing per thread at a time, without the interpreter lock; Ctrl-C stops the batch.

    Parameters
    ----------
    configs : iterable of Config
        Read once, when the call starts; later changes to them do not matter.
    workers : int, optional
        Threads of the local pool (default: this machine's cores). Not with ``executor``.
    executor : concurrent.futures.Executor, optional
        Plan on this executor instead: a ``ProcessPoolExecutor``, Dask's
        ``Client.get_executor()``, an MPI pool. Its workers must be able to import tarvo.
        Ctrl-C cancels the batch's tasks and shuts the executor down without waiting for
        the tasks it is running (``shutdown(wait=False, cancel_futures=True)``, or
        ``shutdown(wait=False)`` for an executor whose shutdown takes no ``cancel_futures``),
        and ends its worker processes where the executor has ``terminate_workers``.
    progress : bool or callable, default False
        True shows a tqdm bar (``pip install tarvo[progress]``); a callable is called as
        ``progress(done, total)`` in the calling thread as entries finish.
    chunksize : int, optional
        Configurations per task shipped to ``executor`` (default: the batch in about 64
        chunks of at most 64).
    method, accuracy, unreachable : str
        The options of `tarvo.plan`, for every landing.

    A failed landing is an entry with ``ok`` false, never an exception and never a gap;
    an entry that the executor or its worker failed to return has status "WorkerFailed"
    and the reason in its message.

    Raises
    ------
    TypeError
        An entry that is not a `Config` (naming its index), ``workers`` or ``chunksize``
        not an int, an ``executor`` without ``submit``, a ``progress`` of another kind.
        Raised before any work starts.
    ValueError
        ``workers`` or ``chunksize`` below 1, ``workers`` above 1024, ``workers`` together
        with ``executor``, or a ``method``, ``accuracy`` or ``unreachable`` that is none of
        its choices.
    ImportError
        ``progress=True`` without tqdm installed.
    """
    entries = _config_entries(configs)
    batch = Batch(len(entries), workers=workers, executor=executor, progress=progress,
                  chunksize=chunksize, method=method, unreachable=unreachable,
                  accuracy=accuracy)
    if executor is not None:  # read now: the chunks go out as earlier ones return
        entries = [copy_config(config) for config in entries]
    results: list[Landing | None] = [None] * len(entries)

    def keep(entries: range, landings: list[Landing]) -> None:
        results[entries.start:entries.stop] = landings

    batch.run(lambda chosen: entries[chosen.start:chosen.stop], keep, local_block=len(entries))
    return results  # type: ignore[return-value]  # every range was delivered


class Batch:
    """``total`` landings to plan with the options of `plan_many`, all checked at once.

    `run` plans them a range of entries at a time, drawing each range's configurations only
    when it is about to go out, so a batch too large to hold at once (a long study) keeps in
    memory only the ranges in flight.
    """

    def __init__(
        self, total: int, *, workers: Any = None,
        executor: concurrent.futures.Executor | None = None, progress: ProgressArgument = False,
        chunksize: Any = None, method: Any = "continuous", unreachable: Any = "fail",
        accuracy: Any = None,
    ) -> None:
        self.total = total
        self.workers = _positive_count("workers", workers)
        self.chunksize = _positive_count("chunksize", chunksize)
        self.options = engine.engine_options(method, unreachable, accuracy)
        if executor is not None:
            if self.workers is not None:
                raise ValueError("workers sizes the local thread pool; with an executor, "
                                 "size the executor")
            if not callable(getattr(executor, "submit", None)):
                raise TypeError(f"executor must be a concurrent.futures.Executor, "
                                f"not {type(executor).__name__}")
        self.executor = executor
        self.progress = check_progress(progress)

    def run(
        self, configs_of: Callable[[range], list[Config]],
        deliver: Callable[[range, list[Landing]], object], local_block: int | None = None,
    ) -> None:
        """Plan every entry: ``configs_of(entries)`` gives the configurations of a range of
        entries, and ``deliver(entries, landings)`` receives their landings, in order on the
        local pool (``local_block`` entries at a time, default LOCAL_BLOCK), in the order
        they finish on an executor."""
        with BatchProgress(self.progress, self.total) as bar:
            if self.executor is not None:
                size = self.chunksize or default_chunksize(self.total)
                _run_on_executor(self.executor, _ranges(self.total, size), configs_of,
                                 deliver, bar, self.options)
                return
            for entries in _ranges(self.total, max(1, local_block or LOCAL_BLOCK)):
                deliver(entries, engine.solve_batch(configs_of(entries), self.workers,
                                                    lambda index: bar.advance(), self.options))


def plan_chunk(
    portables: Sequence[Portable], options: dict[str, str] | None = None,
) -> list[Landing]:
    """Plan a chunk of portable configurations in this process: the executor's task.

    ``options`` are the engine's (`tarvo.landing.engine.engine_options`), the method among
    them, so that the chunk is planned as the caller asked. One thread: the executor
    decides how many tasks run at once.
    """
    configs = [from_portable(portable) for portable in portables]
    return engine.solve_batch(configs, workers=1, options=options)


def _config_entries(configs: Iterable[Config]) -> list[Config]:
    if isinstance(configs, Config):
        raise TypeError("plan_many() expects an iterable of Config; use plan() for one")
    entries = list(configs)
    for index, config in enumerate(entries):
        if not isinstance(config, Config):
            raise TypeError(f"configs[{index}] is a {type(config).__name__}, not a Config")
    return entries


def _positive_count(name: str, value: Any) -> int | None:
    if value is None:
        return None
    if isinstance(value, bool):
        raise TypeError(f"{name} must be an int, not bool")
    try:
        count = operator.index(value)
    except TypeError:
        raise TypeError(f"{name} must be an int, not {type(value).__name__}") from None
    if count < 1:
        raise ValueError(f"{name} must be at least 1, got {count}")
    return count


def default_chunksize(entries: int) -> int:
    """Configurations per executor task when the caller gives no chunksize."""
    return min(MAX_CHUNK, max(1, math.ceil(entries / TARGET_CHUNKS)))


def _ranges(total: int, size: int) -> Iterator[range]:
    return (range(start, min(start + size, total)) for start in range(0, total, size))


def _run_on_executor(
    executor: concurrent.futures.Executor, chunks: Iterator[range],
    configs_of: Callable[[range], list[Config]],
    deliver: Callable[[range, list[Landing]], object], bar: BatchProgress,
    options: dict[str, str],
) -> None:
    """Plans the chunks on the executor, each by `plan_chunk`."""
    def task(chunk: range) -> tuple[list[Config], Callable[..., Any], tuple[Any, ...]]:
        configs = configs_of(chunk)
        return configs, plan_chunk, ([to_portable(config) for config in configs], options)

    def failed(chunk: range, configs: list[Config], reason: str) -> list[Landing]:
        entries = (f"entry {chunk.start}" if len(chunk) == 1
                   else f"entries {chunk.start} to {chunk.stop - 1}")
        reason = f"the executor failed on {entries}: {reason}"
        return [Landing.failed(config, options["method"], engine.WORKER_FAILED, reason)
                for config in configs]

    run_tasks(executor, chunks, task, Landing, "configurations", deliver, failed, bar)


def run_tasks(
    executor: concurrent.futures.Executor, chunks: Iterator[range],
    task: Callable[[range], tuple[Any, Callable[..., Any], tuple[Any, ...]]],
    item: type, noun: str, deliver: Callable[[range, list[Any]], object],
    failed: Callable[[range, Any, str], list[Any]], bar: BatchProgress,
) -> None:
    """Runs one task per chunk on the executor, up to MAX_IN_FLIGHT at once, sending the
    next as one returns, and delivers each chunk's results (a list of one ``item`` per
    entry) in the order they finish.

    ``task(chunk)`` gives what the chunk stands for (kept for its failure) and the function
    and arguments to submit; a chunk the executor refuses or fails to return (a dead worker
    process, a lost cluster worker, a wrong result) is delivered as ``failed(chunk, what,
    reason)``. Ctrl-C cancels the chunks not yet running and shuts the executor down without
    waiting for those that are.
    """
    in_flight: dict[concurrent.futures.Future[Any], tuple[range, Any]] = {}

    def send(chunk: range) -> None:
        what, function, arguments = task(chunk)
        try:
            in_flight[executor.submit(function, *arguments)] = chunk, what
        except Exception as error:  # a shut-down or broken executor refuses the task
            deliver(chunk, failed(chunk, what, _describe_error(error)))
            bar.advance(len(chunk))

    def results(future: concurrent.futures.Future[Any], chunk: range, what: Any) -> list[Any]:
        try:
            values = future.result()
        except Exception as error:
            return failed(chunk, what, _describe_error(error))
        if (not isinstance(values, list) or len(values) != len(chunk)
                or not all(isinstance(value, item) for value in values)):
            return failed(chunk, what, f"the task returned {_describe(values)} "
                                       f"for {len(chunk)} {noun}")
        return values

    def fill() -> None:  # a refused chunk is delivered at once and takes no place
        while len(in_flight) < MAX_IN_FLIGHT and (chunk := next(chunks, None)) is not None:
            send(chunk)

    try:
        fill()
        while in_flight:
            done, _ = concurrent.futures.wait(in_flight, return_when="FIRST_COMPLETED")
            for future in done:
                chunk, what = in_flight.pop(future)
                deliver(chunk, results(future, chunk, what))
                bar.advance(len(chunk))
            fill()
    except BaseException as error:
        for future in in_flight:
            future.cancel()
        if isinstance(error, KeyboardInterrupt):
            _leave(executor)
        raise


def _leave(executor: concurrent.futures.Executor) -> None:
    """After Ctrl-C: shut the executor down without waiting for the tasks it runs, and end
    its worker processes where it can (``terminate_workers``, Python 3.14's process pool)."""
    with contextlib.suppress(Exception):  # the interrupt is what the caller must see
        try:
            executor.shutdown(wait=False, cancel_futures=True)
        except TypeError:  # no cancel_futures: Dask's executor cancels its tasks on wait=False
            executor.shutdown(wait=False)
        terminate = getattr(executor, "terminate_workers", None)
        if callable(terminate):
            terminate()


def _describe_error(error: BaseException) -> str:
    text = str(error)
    if not text and isinstance(error, concurrent.futures.CancelledError):
        # An executor cancels a task without a word: when it is shut down, or when its
        # cluster drops the task (a Dask client closing, a scheduler cancelling it).
        text = ("the executor cancelled the task before it returned (it was shut down, "
                "or its cluster dropped the task)")
    return f"{type(error).__name__}: {text}"


def _describe(value: Any) -> str:
    if isinstance(value, list):
        return f"{len(value)} values"
    return f"a {type(value).__name__}"
