"""Writing a file whole or not at all."""

from __future__ import annotations

import os
import secrets
import shutil
from collections.abc import Callable
from typing import Any

__all__ = ["write_replacing", "write_bytes_replacing"]


def write_replacing(path: Any, write: Callable[[str], object]) -> None:
    """Call ``write(temporary)`` on a new file beside ``path``, then rename it over ``path``.

    A failed write (a full disk, an error while encoding) leaves ``path`` as it was and no
    temporary file behind. The new file has the permissions of the file it replaces, or
    those of any new file under the process's umask.
    """
    path = os.fspath(path)
    directory, name = os.path.split(os.path.abspath(path))
    suffix = os.path.splitext(name)[1]
    temporary = os.path.join(directory, f".tarvo-{secrets.token_hex(6)}{suffix}")
    os.close(os.open(temporary, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o666))
    try:
        if os.path.exists(path):
            shutil.copymode(path, temporary)
        write(temporary)
        os.replace(temporary, path)
    except BaseException:
        os.unlink(temporary)
        raise


def write_bytes_replacing(path: Any, data: bytes) -> None:
    """Write ``data`` as the whole content of ``path`` (see `write_replacing`)."""
    def write(temporary: str) -> None:
        with open(temporary, "wb") as stream:
            stream.write(data)

    write_replacing(path, write)
