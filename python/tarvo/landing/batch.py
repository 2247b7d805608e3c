"""`plan_many`: many landings on the local thread pool or on any `concurrent.futures` executor.

With an executor, configurations travel in their portable form (`tarvo._portable`), in
chunks, to `plan_chunk`, which every worker can import; the landings come back pickled. A
chunk that the executor or its worker fails to return (a dead process, a lost cluster
worker, a refused submission) becomes failed landings with status "WorkerFailed" and the
reason, so no entry is ever missing from the result.
"""

from __future__ import annotations

import concurrent.futures
import math
import operator
from collections.abc import Iterable, Sequence
from typing import Any

from . import engine
from .landing import Landing
from .._portable import Portable, from_portable, to_portable
from .progress import BatchProgress, ProgressArgument
from .._tarvo import Config

__all__ = ["plan_many", "plan_chunk"]

# Without a chunksize, a batch goes out in about this many chunks, each of at most
# MAX_CHUNK entries: enough chunks to spread over a cluster and move a progress bar, few
# enough that the executor's per-task cost stays small beside the solves.
TARGET_CHUNKS = 64
MAX_CHUNK = 64


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
    portables = _portable_entries(configs)
    workers = _positive_count("workers", workers)
    chunksize = _positive_count("chunksize", chunksize)
    options = engine.engine_options(method, unreachable, accuracy)
    if executor is not None:
        if workers is not None:
            raise ValueError("workers sizes the local thread pool; with an executor, size the executor")
        if not callable(getattr(executor, "submit", None)):
            raise TypeError(f"executor must be a concurrent.futures.Executor, "
                            f"not {type(executor).__name__}")
    with BatchProgress(progress, len(portables)) as bar:
        if not portables:
            return []
        if executor is None:
            return engine.solve_batch(portables, workers, lambda index: bar.advance(),
                                        options)
        return _run_on_executor(executor, portables, chunksize, bar, options)


def plan_chunk(
    portables: Sequence[Portable], options: dict[str, str] | None = None,
) -> list[Landing]:
    """Plan a chunk of portable configurations in this process: the executor's task.

    ``options`` are the engine's (`tarvo.landing.engine.engine_options`), the method among
    them, so that the chunk is planned as the caller asked. One thread: the executor
    decides how many tasks run at once.
    """
    return engine.solve_batch(portables, workers=1, options=options)


def _portable_entries(configs: Iterable[Config]) -> list[Portable]:
    if isinstance(configs, Config):
        raise TypeError("plan_many() expects an iterable of Config; use plan() for one")
    entries = list(configs)
    for index, config in enumerate(entries):
        if not isinstance(config, Config):
            raise TypeError(f"configs[{index}] is a {type(config).__name__}, not a Config")
    return [to_portable(config) for config in entries]


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


def _run_on_executor(
    executor: concurrent.futures.Executor, portables: list[Portable],
    chunksize: int | None, bar: BatchProgress, options: dict[str, str],
) -> list[Landing]:
    size = chunksize or default_chunksize(len(portables))
    chunks = [range(start, min(start + size, len(portables)))
              for start in range(0, len(portables), size)]
    results: list[Landing | None] = [None] * len(portables)
    futures: dict[concurrent.futures.Future[list[Landing]], range] = {}
    try:
        for chunk in chunks:
            try:
                task = executor.submit(plan_chunk, [portables[i] for i in chunk], options)
                futures[task] = chunk
            except Exception as error:  # a shut-down or broken executor refuses the task
                _fill_failed(results, portables, chunk, _describe_error(error), options)
                bar.advance(len(chunk))
        for future in concurrent.futures.as_completed(futures):
            chunk = futures[future]
            _fill(results, portables, chunk, future, options)
            bar.advance(len(chunk))
    except BaseException:
        for future in futures:
            future.cancel()
        raise
    return results  # type: ignore[return-value]  # every chunk was filled


def _fill(
    results: list[Landing | None], portables: list[Portable], chunk: range,
    future: concurrent.futures.Future[list[Landing]], options: dict[str, str],
) -> None:
    try:
        landings = future.result()
    except Exception as error:  # a dead worker process, a lost cluster worker, ...
        _fill_failed(results, portables, chunk, _describe_error(error), options)
        return
    if (not isinstance(landings, list) or len(landings) != len(chunk)
            or not all(isinstance(landing, Landing) for landing in landings)):
        _fill_failed(results, portables, chunk, f"the task returned {_describe(landings)} "
                                                f"for {len(chunk)} configurations", options)
        return
    results[chunk.start:chunk.stop] = landings


def _fill_failed(
    results: list[Landing | None], portables: list[Portable], chunk: range, reason: str,
    options: dict[str, str],
) -> None:
    entries = (f"entry {chunk.start}" if len(chunk) == 1
               else f"entries {chunk.start} to {chunk.stop - 1}")
    reason = f"the executor failed on {entries}: {reason}"
    for index in chunk:
        results[index] = Landing.failed(from_portable(portables[index]), options["method"],
                                        engine.WORKER_FAILED, reason)


def _describe_error(error: BaseException) -> str:
    return f"{type(error).__name__}: {error}"


def _describe(value: Any) -> str:
    if isinstance(value, list):
        return f"{len(value)} values"
    return f"a {type(value).__name__}"
