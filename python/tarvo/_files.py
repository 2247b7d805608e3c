"""Writing a file whole or not at all.

Every file tarvo writes (a saved landing or study, an output of the command line) goes
through `write_replacing`: the content goes to a new file beside the destination, which is
then renamed over it, so that a failure part-way (a full disk, an error while encoding)
leaves the destination as it was.

The destination is what a text editor would write: a symbolic link is followed to the file
it points to, and the link stays. A folder, a FIFO, a device node or a socket is refused,
since renaming a regular file over it would replace it rather than write to it.
"""

from __future__ import annotations

import contextlib
import errno
import os
import secrets
import shutil
import stat
from collections.abc import Callable
from typing import Any

__all__ = ["write_replacing", "write_bytes_replacing", "check_replaceable"]

_KINDS = (
    (stat.S_ISDIR, errno.EISDIR, "is a folder"),
    (stat.S_ISFIFO, errno.EINVAL, "is a FIFO, not a regular file"),
    (stat.S_ISCHR, errno.EINVAL, "is a character device, not a regular file"),
    (stat.S_ISBLK, errno.EINVAL, "is a block device, not a regular file"),
    (stat.S_ISSOCK, errno.EINVAL, "is a socket, not a regular file"),
)


def _naming(error: OSError, path: str) -> OSError:
    """The same failure, its reason in plain words and its file the path the caller gave
    (not a temporary file, nor the target of a link)."""
    reason = os.strerror(error.errno) if error.errno else str(error)
    return OSError(error.errno, reason, path)


def _destination(path: str) -> str:
    """The file that a write to path replaces: path itself, or the file a link at path
    points to. An OSError naming path when that is not a place for a regular file."""
    if path.endswith(os.sep):  # realpath would drop the separator and name a file
        raise OSError(errno.EISDIR, "is a folder", path)
    target = os.path.realpath(path)
    try:
        mode = os.stat(target).st_mode
    except FileNotFoundError:
        return target  # a new file; whether its folder exists shows when it is created
    except OSError as error:  # a loop of links, a file where a folder should be
        raise _naming(error, path) from None
    for kind, number, reason in _KINDS:
        if kind(mode):
            raise OSError(number, reason, path)
    return target


def _new_temporary(target: str, path: str) -> str:
    """An empty new file beside target, with target's suffix (some writers go by it)."""
    directory = os.path.dirname(target)
    suffix = os.path.splitext(target)[1]
    temporary = os.path.join(directory, f".tarvo-{secrets.token_hex(6)}{suffix}")
    try:
        os.close(os.open(temporary, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o666))
    except OSError as error:  # no such folder, a read-only file system, no permission
        raise _naming(error, path) from None
    return temporary


def _discard(temporary: str) -> None:
    # The writer may have removed it already (pyarrow does on a failed write); the
    # failure worth reporting is the one that brought us here.
    with contextlib.suppress(OSError):
        os.unlink(temporary)


def _keep_mode_and_owner(target: str, temporary: str) -> None:
    """Give the new file the permissions of the file it replaces, and its owner when the
    process may (it may not, unless privileged)."""
    try:
        status = os.stat(target)
    except FileNotFoundError:
        return
    shutil.copymode(target, temporary)
    if (status.st_uid, status.st_gid) != (os.getuid(), os.getgid()):
        with contextlib.suppress(OSError):
            os.chown(temporary, status.st_uid, status.st_gid)


def _sync(temporary: str) -> None:
    """Put the content on the disk before the rename makes it the file."""
    descriptor = os.open(temporary, os.O_RDONLY)
    try:
        os.fsync(descriptor)
    except OSError as error:
        if error.errno not in (errno.EINVAL, errno.ENOTSUP):  # a file system without fsync
            raise
    finally:
        os.close(descriptor)


def check_replaceable(path: Any) -> None:
    """Raise now what `write_replacing` would raise before writing anything to ``path``: an
    OSError naming it when its folder is missing or read-only, or it is not a regular file.

    A command checks its outputs so before its work, and fails at once instead of after it.
    """
    path = os.fspath(path)
    os.unlink(_new_temporary(_destination(path), path))


def write_replacing(path: Any, write: Callable[[str], object]) -> None:
    """Call ``write(temporary)`` on a new file beside ``path``, then rename it over ``path``.

    A link at ``path`` is followed: its target gets the new content. A failed write leaves
    ``path`` as it was and no temporary file behind, and raises an OSError whose
    ``filename`` is ``path`` and whose reason is the system's ("No space left on device").
    The new file has the permissions of the file it replaces, or those of any new file
    under the process's umask.
    """
    path = os.fspath(path)
    target = _destination(path)
    temporary = _new_temporary(target, path)
    try:
        write(temporary)
        _keep_mode_and_owner(target, temporary)
        _sync(temporary)
        os.replace(temporary, target)
    except OSError as error:
        _discard(temporary)
        raise _naming(error, path) from error
    except BaseException:
        _discard(temporary)
        raise


def write_bytes_replacing(path: Any, data: bytes) -> None:
    """Write ``data`` as the whole content of ``path`` (see `write_replacing`)."""
    def write(temporary: str) -> None:
        with open(temporary, "wb") as stream:
            stream.write(data)

    write_replacing(path, write)
