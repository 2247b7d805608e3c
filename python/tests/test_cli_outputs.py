"""Both commands' outputs: written first and whole, whatever happens to stdout and stderr."""

import json
import os
import re
import resource
import shutil
import subprocess
import sys

import pytest

import tarvo

pandas = pytest.importorskip("pandas")

CONFIG = tarvo.Config(solver=tarvo.Solver(n=15, time_of_flight=60.0)).to_json()
NO_SPACE = "No space left on device"
# Each command: its arguments writing files into a folder, and whether those files are right.
COMMANDS = {
    "tarvo": (lambda at: ["-", "--csv", f"{at}/nodes.csv", "--result", f"{at}/result.json"],
              lambda at: json.loads((at / "result.json").read_text())["ok"] is True
              and len(pandas.read_csv(at / "nodes.csv")) == 15),
    "monte-carlo": (lambda at: ["monte-carlo", "-", "--runs", "3", "--disperse",
                                "spacecraft.wet_mass=normal:5", "--out", f"{at}/study.parquet"],
                    lambda at: tarvo.Study.load(at / "study.parquet").runs == 3),
    "fly": (lambda at: ["fly", "-", "--result", f"{at}/flight.json", "--csv", f"{at}/samples.csv"],
            lambda at: json.loads((at / "flight.json").read_text())["status"] == "Landed"
            and (at / "samples.csv").read_text().count("\n") > 10),
}


def stream(kind, number, closing):
    """What a child gets as stream `number`: a pipe to read, a full device, a pipe nobody
    reads, or nothing (closed before the program starts)."""
    if kind == "full":
        return open("/dev/full", "w")
    if kind == "broken":
        reading, writing = os.pipe()
        os.close(reading)
        return writing
    if kind == "closed":
        closing.append(number)
        return subprocess.DEVNULL
    return subprocess.PIPE


def run_tarvo(args, stdout="pipe", stderr="pipe", limit=None, unbuffered=None):
    """(exit status, stdout text or None, stderr text or None) of `python -m tarvo args`;
    PYTHONUNBUFFERED unset unless given, as most users have it."""
    env = {name: value for name, value in os.environ.items() if name != "PYTHONUNBUFFERED"}
    env.update({} if unbuffered is None else {"PYTHONUNBUFFERED": unbuffered})
    closing = []
    streams = stream(stdout, 1, closing), stream(stderr, 2, closing)

    def prepare():
        if limit is not None:
            resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
        for number in closing:
            os.close(number)

    try:
        run = subprocess.run([sys.executable, "-B", "-m", "tarvo", *args], input=CONFIG,
                             stdout=streams[0], stderr=streams[1], text=True, timeout=120,
                             preexec_fn=prepare, env=env)
    finally:
        for value in streams:
            if hasattr(value, "close"):
                value.close()
            elif isinstance(value, int) and value > 0:
                os.close(value)
    assert "Traceback" not in (run.stdout or "") + (run.stderr or "")
    return run.returncode, run.stdout, run.stderr


# (stdout, stderr, --progress, exit status, the line saying what failed, the commands run so):
# the streams are written by code the commands share, in an order of their own.
STREAM_CASES = [
    ("full", "pipe", False, 1, f"standard output: {NO_SPACE}", ["tarvo", "fly"]),
    ("broken", "pipe", False, 1, "standard output: Broken pipe", ["tarvo", "monte-carlo"]),
    ("closed", "pipe", False, 1, "standard output: closed", ["tarvo"]),
    ("pipe", "closed", False, 0, None, ["tarvo"]),
    ("pipe", "closed", True, 1, "standard error: closed", ["tarvo"]),
    ("pipe", "full", True, 1, f"standard error: {NO_SPACE}", ["tarvo", "monte-carlo", "fly"]),
    ("closed", "closed", True, 1, None, ["tarvo"]),
]


@pytest.mark.parametrize("name, stdout, stderr, progress, status, line", [
    (name, *case[:-1]) for case in STREAM_CASES for name in case[-1]])
def test_files_are_written_whatever_the_streams(tmp_path, name, stdout, stderr, progress,
                                                status, line):
    command, files_right = COMMANDS[name]
    code, out, err = run_tarvo(command(tmp_path) + ["--progress"] * progress, stdout, stderr)
    assert files_right(tmp_path) and code == status
    if stdout == "pipe":  # the summary, then what went wrong on stderr
        assert out.startswith(("status:", "seed:"))
        assert not line or (out.endswith(f"\n{line}\n") and out.count(line) == 1)
    elif stderr == "pipe":
        assert err == line + "\n"


@pytest.mark.parametrize("name", COMMANDS)
def test_full_disk_keeps_every_old_output(tmp_path, name):
    command, files_right = COMMANDS[name]
    assert run_tarvo(command(tmp_path))[0] == 0
    old = {file: (tmp_path / file).read_bytes() for file in os.listdir(tmp_path)}
    code, out, err = run_tarvo(command(tmp_path), limit=1024)  # a disk that fills at 1 KiB
    assert code == 1 and ("runs:" in out or "status:" in out)
    assert sorted(err.splitlines()) == sorted(f"{tmp_path}/{file}: File too large" for file in old)
    assert {file: (tmp_path / file).read_bytes() for file in os.listdir(tmp_path)} == old
    assert files_right(tmp_path)


@pytest.mark.skipif(shutil.which("unshare") is None, reason="needs unshare")
@pytest.mark.parametrize("option", ["--result", "--out"])
def test_read_only_file_system_fails_before_the_work(tmp_path, option):
    script = 'mount -t tmpfs -o ro none "$1" && shift && exec "$@"'
    if subprocess.run(["unshare", "-rm", "sh", "-c", script, "sh", str(tmp_path), "true"],
                      capture_output=True, timeout=30).returncode != 0:
        pytest.skip("cannot mount a read-only file system here")
    target = f"{tmp_path}/out.{'json' if option == '--result' else 'csv'}"
    args = ["monte-carlo", "-", "--runs", "1"] if option == "--out" else ["-"]
    # An unreadable configuration: the output must be refused before it is read.
    run = subprocess.run(["unshare", "-rm", "sh", "-c", script, "sh", str(tmp_path),
                          sys.executable, "-m", "tarvo", *args, option, target],
                         input="{", capture_output=True, text=True, timeout=120)
    assert (run.returncode, run.stdout, run.stderr) == (1, "", f"{target}: Read-only file system\n")


# Buffered, as most users run Python, what a failed stream's buffer still holds meets the
# interpreter's exit; unbuffered, the write itself fails.
@pytest.mark.parametrize("args, unbuffered, stdout", [
    (["--help"], None, "full"), (["monte-carlo", "--help"], None, "broken"),
    (["--version"], None, "broken"), (["--print-default-config"], "1", "full"),
    (["-"], "1", "broken"), (["-"], None, "full")])
def test_output_that_cannot_be_shown_fails(args, unbuffered, stdout):
    reason = {"full": NO_SPACE, "broken": "Broken pipe"}[stdout]
    assert run_tarvo(args, stdout, unbuffered=unbuffered) == (1, None, f"standard output: {reason}\n")


@pytest.mark.parametrize("command", [[], ["fly"]])
def test_huge_numbers_are_written_short(tmp_path, command):
    path = tmp_path / "huge.json"
    path.write_text(tarvo.Config(solver=tarvo.Solver(n=5, tof_min=1.0, tof_max=1e308)).to_json())
    # The nodes method scans the whole bracket, so its trials and its failure name 1e308.
    run = subprocess.run([sys.executable, "-m", "tarvo", *command, str(path), "--progress",
                          "--method", "nodes"], capture_output=True, text=True, timeout=120)
    lines = (run.stdout + run.stderr).splitlines()
    assert run.returncode == 1 and run.stderr.endswith(", 1e+308]\n")
    assert all(len(line) < 160 and not re.search(r"\d{18}", line) for line in lines), lines
    assert command or re.search(r"\ntrial 2: time of flight \d\.\d+e\+30\d s, ", run.stderr)
