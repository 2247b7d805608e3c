import json
import math
import os
import subprocess
import sys
import tomllib
from pathlib import Path

import pytest

import tarvo
from tarvo import Config, Landing, Solver
from tarvo.cli.config_warnings import unknown_member_warnings

SMALL = Config(solver=Solver(n=20, time_of_flight=60.0))
# A lander with 400 kg of fuel and a target 7.6 km downrange: out of reach in 80 s.
FAR = Config(spacecraft=tarvo.Spacecraft(fuel=400.0, target_position=[7600.0, 0.0, 0.0]),
             solver=Solver(n=15, time_of_flight=80.0))


def expected_summary(config, method="continuous"):
    """The summary's numbers, computed here from the configuration and its landing: for the
    nodes method, tarvo.solve's trajectory."""
    trajectory = tarvo.plan(config) if method == "continuous" else tarvo.solve(config)
    tof = config.solver.time_of_flight or float(trajectory.time_points[1]) * config.solver.n
    craft = config.spacecraft
    return {
        "method": method,
        "time of flight": f"{tof:.3f} s ({'searched' if config.solver.time_of_flight is None else 'fixed'})",
        "final mass": f"{trajectory.final_mass:.3f} kg",
        "fuel used": f"{craft.wet_mass - trajectory.final_mass:.3f} kg of {craft.fuel:.3f} kg",
    }


def summary(stdout):
    return {name: value.strip() for name, value in
            (line.split(":", 1) for line in stdout.strip().split("\n"))}


def one_line(text):
    return text.count("\n") == 1 and "Traceback" not in text


def test_default_configuration_search_is_flyable(run_inline):
    status, out, err = run_inline("--verify")
    assert (status, err) == (0, ""), out
    fields = summary(out.split("Verification passed")[0])
    assert fields["status"] in ("Solved", "AlmostSolved") and fields["nodes"] == "100"
    assert expected_summary(Config()).items() <= fields.items()
    assert {"peak thrust", "touchdown error"} <= set(fields)


@pytest.mark.parametrize("method", ["continuous", "nodes"])
def test_standard_input_is_planned_by_the_method(run_inline, method):
    status, out, err = run_inline("--method", method, "-", stdin=SMALL.to_json().encode())
    fields = summary(out)
    assert (status, err) == (0, "") and expected_summary(SMALL, method).items() <= fields.items()
    assert float(fields["touchdown error"].split()[1]) < 1e-3


def test_version_and_default_document(run_inline):
    project = tomllib.loads((Path(__file__).parents[2] / "pyproject.toml").read_text())
    assert tarvo.__version__ == project["project"]["version"]
    assert run_inline("--version") == (0, f"tarvo {tarvo.__version__}\n", "")
    assert run_inline("--print-default-config") == (0, Config().to_json() + "\n", "")
    script = Path(sys.executable).parent / "tarvo"  # the installed command, when installed here
    if script.exists():
        run = subprocess.run([str(script), "--version"], capture_output=True, text=True, timeout=60)
        assert (run.returncode, run.stdout) == (0, f"tarvo {tarvo.__version__}\n")


@pytest.mark.parametrize("source, content, message", [
    ("file", b'{\n  "solver": {"n": 10,}\n}', "{path}: trailing comma at line 2 column 22"),
    ("file", None, "{path}: No such file or directory"),
    ("file", b"\xff\xfe{}", "{path}: invalid UTF-8 at byte 0"),
    ("stdin", b"", "<stdin>: EOF while parsing a value at line 1 column 0"),
    ("stdin", b"\xc3\x28{}", "<stdin>: invalid UTF-8 at byte 0"),
])
def test_unreadable_configuration_is_one_line(run_inline, tmp_path, source, content, message):
    path = tmp_path / "config.json"
    if source == "file" and content is not None:
        path.write_bytes(content)
    result = run_inline("-", stdin=content) if source == "stdin" else run_inline(path)
    assert result == (1, "", message.format(path=path) + "\n")


def test_closed_standard_input_is_one_line():
    run = subprocess.run(f"'{sys.executable}' -m tarvo - <&-", shell=True,
                         capture_output=True, text=True, timeout=60)
    assert run.returncode == 1 and run.stderr == "<stdin>: standard input is closed\n"


@pytest.mark.parametrize("config, method, words", [
    (FAR, "nodes", ["solve failed: solver status: PrimalInfeasible\n"]),
    (FAR, "continuous", ["solve failed: "]),
    (Config(solver=Solver(n=10, time_of_flight=-45.0)), "continuous",
     ["solve failed: ", "time_of_flight", "-45"]),
])
def test_failed_plan_is_one_line(run_inline, config, method, words):
    status, out, err = run_inline("--method", method, "-", stdin=config.to_json().encode())
    assert (status, out) == (1, "") and one_line(err) and err.startswith(words[0])
    assert all(word in err for word in words)


@pytest.mark.parametrize("text, warnings", [
    ('{"solver": {"n": 20, "time_of_fligth": 40}}',
     ["unknown member 'time_of_fligth' in record 'solver' is ignored; "
      "did you mean 'time_of_flight'?"]),
    ('{"Solver": {}, "comment": 1, "comment": 2}',
     ["unknown member 'Solver' at the top level is ignored; did you mean 'solver'?",
      "unknown member 'comment' at the top level is ignored",
      "unknown member 'comment' at the top level is ignored"]),
    ('{"environment": {"x\\ny": 0}}', ["unknown member 'x\\ny' in record 'environment' is ignored"]),
    ('{"spacecraft": [2000, {"nonsense": 1}], "solver": {"n": 3}}', []),  # array form
    ('[{"a": 1}]', []),
    ('{"x": ' + "[" * 100_000 + "]" * 100_000 + "}", []),  # too deep for Python's json
    ('{"n": 1e999999, "x": ' + "9" * 5000 + "}", []),  # an int Python refuses to read
])
def test_unknown_member_warnings(text, warnings):
    assert unknown_member_warnings(text) == warnings


def test_unknown_members_are_warned_and_the_landing_still_planned(run_inline):
    document = json.loads(SMALL.to_json())
    document["solver"]["tof_mx"] = 70.0
    status, out, err = run_inline("-", stdin=json.dumps(document).encode())
    assert status == 0 and summary(out)["time of flight"] == "60.000 s (fixed)"
    assert err == ("warning: <stdin>: unknown member 'tof_mx' in record 'solver' is ignored;"
                   " did you mean 'tof_max'?\n")


def test_plot_csv_and_result_files(run_inline, tmp_path):
    pandas = pytest.importorskip("pandas")
    path = tmp_path / "small.json"
    path.write_text(SMALL.to_json())
    status, out, err = run_inline(path, "--plot", tmp_path / "landing.png",
                                  "--csv", tmp_path / "nodes.txt",
                                  "--result", tmp_path / "result.json")
    assert status == 0 and err == ""
    landing = tarvo.plan(SMALL)
    assert (tmp_path / "landing.png").read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    table = pandas.read_csv(tmp_path / "nodes.txt", index_col="node")
    pandas.testing.assert_frame_equal(table, landing.to_frame(), check_exact=True)
    result = json.loads((tmp_path / "result.json").read_text())
    assert result["final_mass"] == landing.final_mass
    assert f"{result['fuel_used']:.3f} kg" in summary(out)["fuel used"]


def test_progress_reports_every_trial(run_inline):
    config = Config(solver=Solver(n=20))
    status, _, err = run_inline("--progress", "-", stdin=config.to_json().encode())
    expected = [f"trial {number}: time of flight {tof:.3f} s, {state}"
                + (f", final mass {mass:.3f} kg" if math.isfinite(mass) else "")
                for number, (tof, state, mass) in enumerate(tarvo.plan(config).trials, start=1)]
    assert status == 0 and len(expected) > 1 and err.splitlines() == expected


def test_verification_is_shown_and_a_failed_one_fails(run_inline, monkeypatch):
    # A minimum thrust of 20 % is held at the nodes but not between them.
    for min_thrust_pct, status, verdict in [(0.05, 0, "passed"), (0.2, 1, "FAILED")]:
        config = Config(spacecraft=tarvo.Spacecraft(min_thrust_pct=min_thrust_pct), solver=SMALL.solver)
        code, out, _ = run_inline("--verify", "--method", "nodes", "-", stdin=config.to_json().encode())
        dipping = tarvo.plan(config, method="nodes")
        report = str(dipping.verify())
        assert code == status and report.startswith(f"Verification {verdict}")
        assert out.endswith(report + "\n") and out.startswith("status:")
    # The same landing refused by its verification, as the continuous method refuses it.
    failed = Landing(config, **{**dipping._values, "method": "continuous", "ok": False,
                                "status": "VerificationFailed",
                                "message": dipping.verification.failure_message()},
                     verification=dipping.verification)
    monkeypatch.setattr("tarvo.cli.main.plan_landing", lambda *arguments: failed)
    code, out, err = run_inline("-", stdin=config.to_json().encode())
    fields = summary(out)
    assert (code, err) == (1, "") and fields["status"] == "VerificationFailed"
    assert fields["note"] == failed.message and "minimum thrust" in failed.message


@pytest.mark.parametrize("options, message", [
    (["--csv", "{tmp}/missing/nodes.csv"], "{tmp}/missing/nodes.csv: No such file or directory"),
    (["--result", "{tmp}"], "{tmp}: is a folder"),
    (["--result", ""], "--result: the file name is empty"),
    (["--result", "{tmp}/fifo.json"], "{tmp}/fifo.json: is a FIFO, not a regular file"),
    (["--result", "/proc/self/status"], "/proc/self/status: No such file or directory"),
    (["--csv", "{tmp}/a.csv", "--result", "{tmp}/a.csv"],
     "{tmp}/a.csv: named by both --csv and --result"),
    (["--plot", "{tmp}/landing.bmpx"], "{tmp}/landing.bmpx: the image format must be one of"),
])
def test_impossible_output_fails_before_solving(run_inline, tmp_path, options, message):
    os.mkfifo(tmp_path / "fifo.json")
    options = [option.format(tmp=tmp_path) for option in options]
    status, out, err = run_inline(*options, "-", stdin=b"{")
    assert status == 1 and out == "" and one_line(err)
    assert err.startswith(message.format(tmp=tmp_path))
    assert os.listdir(tmp_path) == ["fifo.json"]


@pytest.mark.parametrize("options, planning", [
    (["--verify"], dict()),
    (["--method", "nodes", "--accuracy", "high"], dict(method="nodes", accuracy="high")),
])
def test_closest_landing_is_shown_and_written(run_inline, tmp_path, options, planning):
    result = tmp_path / "result.json"
    status, out, _ = run_inline("--closest", *options, "--result", result, "-",
                                stdin=FAR.to_json().encode())
    landing = tarvo.plan(FAR, unreachable="closest", **planning)
    fields = summary(out.split("Verification passed")[0])
    assert status == 0 and fields["note"] == landing.message and landing.miss_distance > 100.0
    assert fields["method"] == landing.method and fields["final mass"] == f"{landing.final_mass:.3f} kg"
    assert fields["touchdown error"].startswith(f"position {landing.miss_distance:.3e} m")
    assert ("target miss" in out) == ("--verify" in options)
    document = json.loads(result.read_text())
    assert (document["miss_distance"], document["message"], document["solver"]) == (
        landing.miss_distance, landing.message, landing.solver._asdict())
