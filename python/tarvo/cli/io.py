"""Input and output of the command line: the configuration source, the output files and
standard output, each failure reported as one line on stderr with exit status 1."""

from __future__ import annotations

import io
import os
import sys

STDIN = "-"
MAX_WARNINGS = 20


class OutputFailed(Exception):
    """A write to an output file or standard output failed; the text is the whole report."""


def report(text):
    """One line on stderr; a closed stderr is not worth a second failure."""
    try:
        print(" ".join(str(text).split()), file=sys.stderr, flush=True)
    except (OSError, ValueError, AttributeError):
        pass


def fail(text):
    """Report one line on stderr and leave with status 1."""
    report(text)
    sys.exit(1)


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
        report(f"warning: {name}: {warning}")
    if len(warnings) > MAX_WARNINGS:
        report(f"warning: {name}: {len(warnings) - MAX_WARNINGS} more unknown members")
    return config


def emit(text):
    """Print text on standard output in one write and flush it, so that a closed pipe or a
    full disk shows here and not as a traceback at interpreter exit. (One write: a reader
    such as `head -1` that has the whole text before it leaves causes no broken pipe.)"""
    if sys.stdout is None:
        return
    try:
        sys.stdout.write(text + "\n")
        sys.stdout.flush()
    except OSError as error:
        raise OutputFailed(stdout_failed(error)) from None


def stdout_failed(error):
    """Point standard output at the null device, so that the interpreter's last flush
    finds nothing to fail on (the SIGPIPE note of the Python documentation), and return
    the report."""
    try:
        null = os.open(os.devnull, os.O_WRONLY)
        os.dup2(null, sys.stdout.fileno())
        os.close(null)
    except (OSError, ValueError, AttributeError):
        pass
    return f"standard output: {error.strerror or error}"


def check_writable(path):
    """Fail before any work when path cannot be an output file: its folder is missing, or
    it is a folder itself."""
    folder = os.path.dirname(os.path.abspath(path))
    if not os.path.isdir(folder):
        fail(f"{path}: no such folder {folder}")
    if os.path.isdir(path):
        fail(f"{path}: is a folder")


def write_bytes(path, data):
    """Write the whole of data to path; any failure (full disk, permission) is one line."""
    try:
        with open(path, "wb") as stream:
            stream.write(data)
    except OSError as error:
        raise OutputFailed(f"{path}: {error.strerror or error}") from None


def figure_bytes(figure, image_format):
    buffer = io.BytesIO()
    figure.savefig(buffer, format=image_format, dpi=100)
    return buffer.getvalue()


def image_format(path):
    """The image format that the suffix of path names; fail before any work if matplotlib
    is missing or does not write that format."""
    try:
        from matplotlib.backends.backend_agg import FigureCanvasAgg
    except ImportError:
        fail("--plot needs matplotlib: pip install tarvo[plot]")
    formats = FigureCanvasAgg.get_supported_filetypes()
    suffix = os.path.splitext(path)[1].lower().lstrip(".")
    if suffix not in formats:
        fail(f"{path}: the image format must be one of "
             f"{', '.join('.' + name for name in sorted(formats))}")
    return suffix


def require_pandas():
    try:
        import pandas  # noqa: F401
    except ImportError:
        fail("--csv needs pandas: pip install tarvo[table]")
