"""Input and output of the commands: the configuration source, the output files, standard
output and standard error.

A command finishes its work and writes its files before it prints anything, so that a
closed or full standard output or standard error costs no file. Each failure is one line:
on stderr, or on stdout when stderr cannot take it; the command then exits with status 1.
"""

from __future__ import annotations

import argparse
import io
import os
import sys

from .. import _optional
from .._files import check_replaceable, write_bytes_replacing

STDIN = "-"
MAX_WARNINGS = 20


class OutputFailed(Exception):
    """A write to standard output failed; the text is the whole report."""


class _Lost:
    """Why standard output or standard error failed, in this run of a command."""

    stdout: str | None = None
    stderr: str | None = None


def _put_line(stream, text) -> None:
    """Write one line and flush it; OSError when the stream is closed or the write fails."""
    if stream is None:
        raise OSError("closed")
    stream.write(text + "\n")
    stream.flush()


def note(text) -> bool:
    """A line on stderr: a warning, a progress report. Once stderr fails nothing more goes
    there, and the command ends by saying why (see `run_command`). Whether it was shown."""
    if _Lost.stderr is not None:
        return False
    try:
        _put_line(sys.stderr, " ".join(str(text).split()))
        return True
    except (OSError, ValueError) as error:
        stderr_failed(error)
        return False


def report(text) -> None:
    """A failure as one line: on stderr, or on stdout when stderr cannot take it."""
    if not note(text):
        _report_on_stdout(text)


def _report_on_stdout(text) -> None:
    if _Lost.stdout is not None:
        return
    try:
        _put_line(sys.stdout, " ".join(str(text).split()))
    except (OSError, ValueError) as error:
        stdout_failed(error)


def stderr_failed(error) -> None:
    """Remember that stderr failed, and why, the first time, and silence it as
    `stdout_failed` does standard output."""
    if _Lost.stderr is None:
        _Lost.stderr = "closed" if sys.stderr is None else _reason(error)
    _point_at_null(sys.stderr)


def stdout_failed(error):
    """Point standard output at the null device, so that the interpreter's last flush
    finds nothing to fail on (the SIGPIPE note of the Python documentation), and return
    the report."""
    if _Lost.stdout is None:
        _Lost.stdout = "closed" if sys.stdout is None else _reason(error)
    _point_at_null(sys.stdout)
    return f"standard output: {_Lost.stdout}"


def _point_at_null(stream) -> None:
    """Point a failed stream's descriptor at the null device: what its buffer still holds
    then goes nowhere at exit instead of failing the interpreter's last flush (status 120)."""
    try:
        null = os.open(os.devnull, os.O_WRONLY)
        os.dup2(null, stream.fileno())
        os.close(null)
    except (OSError, ValueError, AttributeError):
        pass


def _reason(error):
    return (error.strerror if isinstance(error, OSError) else None) or str(error)


def fail(text):
    """Report one line and leave with status 1."""
    report(text)
    sys.exit(1)


def emit(text):
    """Print text on standard output in one write and flush it, so that a closed pipe or a
    full disk shows here and not as a traceback at interpreter exit. (One write: a reader
    such as `head -1` that has the whole text before it leaves causes no broken pipe.)"""
    if _Lost.stdout is not None:
        raise OutputFailed(f"standard output: {_Lost.stdout}")
    try:
        _put_line(sys.stdout, text)
    except (OSError, ValueError) as error:
        raise OutputFailed(stdout_failed(error)) from None


def run_command(run, argv) -> int:
    """Run ``run(argv)`` and return its exit status: 1 after a failure, 130 after Ctrl-C,
    and 1 when a line could not be shown on stderr (then said on stdout)."""
    _Lost.stdout = _Lost.stderr = None
    try:
        status = run(argv)
    except SystemExit as leaving:  # a failure already reported, or --help
        status = leaving.code if isinstance(leaving.code, int) else int(leaving.code is not None)
    except OutputFailed as error:
        report(error)
        status = 1
    except KeyboardInterrupt:
        report("interrupted")
        return 130
    if _Lost.stdout is None and sys.stdout is not None:
        try:
            sys.stdout.flush()
        except OSError as error:
            report(stdout_failed(error))
            status = 1
    if _Lost.stderr is not None:
        _report_on_stdout(f"standard error: {_Lost.stderr}")
        status = status or 1
    return status


class Parser(argparse.ArgumentParser):
    """An argument parser whose help reaches stdout or fails the command, and whose usage
    errors are one line."""

    def print_help(self, file=None):
        emit(self.format_help().rstrip("\n"))

    def error(self, message):
        fail(f"{self.prog}: {message}")


def source_name(path):
    return "<stdin>" if path == STDIN else path


def read_text(path):
    """The UTF-8 text of a file, or of standard input for '-'; a failure ends the program
    with '<file>: <reason>'."""
    name = source_name(path)
    try:
        if path == STDIN:
            if sys.stdin is None:
                fail(f"{name}: standard input is closed")
            data = sys.stdin.buffer.read()
        else:
            with open(path, "rb") as stream:
                data = stream.read()
    except OSError as error:
        fail(f"{name}: {error.strerror or error}")
    try:
        return data.decode("utf-8")
    except UnicodeDecodeError as error:
        fail(f"{name}: invalid UTF-8 at byte {error.start}")


def read_config(path):
    """The configuration to plan: the default one, or a document from a file or stdin.
    Members the reader skips are named on stderr."""
    from .. import Config
    from .config_warnings import unknown_member_warnings

    if path is None:
        return Config()
    name = source_name(path)
    text = read_text(path)
    try:
        config = Config.from_json(text)
    except ValueError as error:
        fail(f"{name}: {error}")
    warnings = unknown_member_warnings(text)
    for warning in warnings[:MAX_WARNINGS]:
        note(f"warning: {name}: {warning}")
    if len(warnings) > MAX_WARNINGS:
        note(f"warning: {name}: {len(warnings) - MAX_WARNINGS} more unknown members")
    return config


def failure_line(path, error) -> str:
    """'<path>: <reason>' for a failed write of path."""
    if isinstance(error, OSError):
        return f"{path}: {error.strerror or error}"
    text = str(error)
    return text if text.startswith(f"{path}:") else f"{path}: {text}"


class Outputs:
    """The files a command writes.

    `claim` checks each file when the command's options name it, before any work: its
    folder exists and takes new files, it is not a folder or a device, and no other option
    names it. `write` writes it once the work is done, whole or not at all (see
    `tarvo._files`); a failure is kept as one line in `failures`, and the next file is
    still written.
    """

    def __init__(self):
        self._options = {}  # real path -> the option that names it
        self.failures = []

    def claim(self, path, option):
        """``path``, checked; a reason why it cannot be written ends the command."""
        if path is None:
            return None
        if not path:
            fail(f"{option}: the file name is empty")
        try:
            check_replaceable(path)
        except (OSError, ValueError) as error:
            fail(failure_line(path, error))
        real = os.path.realpath(path)
        if real in self._options:
            fail(f"{path}: named by both {self._options[real]} and {option}")
        self._options[real] = option
        return path

    def write(self, path, save):
        """Call ``save(path)``, which writes the file; keep its failure."""
        if path is None:
            return
        try:
            save(path)
        except (OSError, ValueError, ImportError) as error:
            self.failures.append(failure_line(path, error))

    def write_bytes(self, path, produce):
        """Write the bytes ``produce()`` returns as the whole of ``path``."""
        self.write(path, lambda target: write_bytes_replacing(target, produce()))

    def report(self) -> int:
        """Report every failure; the exit status they give."""
        for line in self.failures:
            report(line)
        return 1 if self.failures else 0


def figure_bytes(figure, image_format):
    buffer = io.BytesIO()
    figure.savefig(buffer, format=image_format, dpi=100)
    return buffer.getvalue()


def image_format(path):
    """The image format that the suffix of path names; fail before any work if matplotlib
    is missing or does not write that format."""
    formats = require("matplotlib.backends.backend_agg", "--plot").FigureCanvasAgg \
        .get_supported_filetypes()
    suffix = os.path.splitext(path)[1].lower().lstrip(".")
    if suffix not in formats:
        fail(f"{path}: the image format must be one of "
             f"{', '.join('.' + name for name in sorted(formats))}")
    return suffix


def require(module, option):
    """Import module now, before any work; without it, fail naming the option and the extra."""
    try:
        return _optional.require(module, option)
    except ImportError as error:
        fail(str(error))
