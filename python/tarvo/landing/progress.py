"""Progress of a batch: nothing, a tqdm bar, or a callable that receives (done, total)."""

from __future__ import annotations

from collections.abc import Callable
from typing import Any, Union

from .._optional import require

__all__ = ["BatchProgress", "ProgressArgument", "check_progress"]

ProgressArgument = Union[bool, None, Callable[[int, int], object]]


def check_progress(progress: Any) -> ProgressArgument:
    """``progress`` itself when `BatchProgress` takes it: TypeError for another kind, and
    ImportError for True without tqdm."""
    if progress is True:
        require("tqdm", "progress=True")
    elif not callable(progress) and progress is not False and progress is not None:
        raise TypeError(
            f"progress must be True, False or a callable, not {type(progress).__name__}")
    return progress


class BatchProgress:
    """Counts finished entries of a batch of ``total`` and shows or reports them.

    ``progress`` is False or None (nothing), True (a tqdm bar on stderr; tqdm is the
    optional extra ``tarvo[progress]``) or a callable called as ``progress(done, total)``
    after each step, in the thread that runs the batch.
    """

    def __init__(self, progress: ProgressArgument, total: int) -> None:
        self.done = 0
        self.total = total
        self._bar: Any = None
        self._callback: Callable[[int, int], object] | None = None
        if check_progress(progress) is True:
            tqdm = require("tqdm", "progress=True").tqdm
            self._bar = tqdm(total=total, unit="landing", desc="planning")
        elif callable(progress):
            self._callback = progress

    def advance(self, count: int = 1) -> None:
        """Record ``count`` more finished entries."""
        self.done += count
        if self._bar is not None:
            self._bar.update(count)
        if self._callback is not None:
            self._callback(self.done, self.total)

    def close(self) -> None:
        if self._bar is not None:
            self._bar.close()

    def __enter__(self) -> BatchProgress:
        return self

    def __exit__(self, *exception: object) -> None:
        self.close()
