import json
import math
import os
import subprocess
import sys
import tomllib
import types
from pathlib import Path

import pytest

import tarvo
from tarvo import Config, Solver
from tarvo.cli.main import main
from tarvo.landing import engine
from tarvo.cli.config_warnings import unknown_member_warnings

SMALL = Config(solver=Solver(n=20, time_of_flight=60.0))


def run_main(*args, **options):
    return subprocess.run([sys.executable, "-m", "tarvo", *args], capture_output=True, text=True,
                          timeout=300, **options)


def expected_summary(config, method="continuous"):
    """The summary's numbers, computed here from the configuration and its landing: for the
    nodes method, tarvo.solve's trajectory."""
    trajectory = tarvo.plan(config) if method == "continuous" else tarvo.solve(config)
    times = trajectory.time_points
    tof = config.solver.time_of_flight or float(times[1]) * len(times)
    craft = config.spacecraft
    return {
        "method": method,
        "time of flight": f"{tof:.3f} s ({'searched' if config.solver.time_of_flight is None else 'fixed'})",
        "final mass": f"{trajectory.final_mass:.3f} kg",
        "fuel used": f"{craft.wet_mass - trajectory.final_mass:.3f} kg of {craft.fuel:.3f} kg",
    }


def summary(stdout):
    return dict(line.split(":", 1) for line in stdout.strip().split("\n"))


class TestMainJob:
    def test_print_default_config(self):
        run = run_main("--print-default-config")
        assert run.returncode == 0 and run.stderr == ""
        assert run.stdout == Config().to_json() + "\n"

    def test_default_configuration_search_is_flyable(self):
        run = run_main("--verify")
        assert run.returncode == 0, run.stdout + run.stderr
        report, verification = run.stdout.split("Verification passed")
        fields = summary(report)
        assert fields["status"].strip() in ("Solved", "AlmostSolved")
        assert fields["nodes"].strip() == "100"
        for name, text in expected_summary(Config()).items():
            assert fields[name].strip() == text
        assert {"peak thrust", "touchdown error"} <= set(fields)

    def test_nodes_method_is_the_solve_of_the_configuration(self, run_inline):
        status, out, err = run_inline("--method", "nodes", "-", stdin=SMALL.to_json().encode())
        assert status == 0 and err == ""
        fields = summary(out)
        for name, text in expected_summary(SMALL, "nodes").items():
            assert fields[name].strip() == text

    @pytest.mark.parametrize("content, message", [
        ('{\n  "solver": {"n": 10,}\n}', "trailing comma at line 2 column 22"),
        ('{"a": "\\u00e9\\n"} {', "trailing characters at line 1 column 19"),
    ])
    def test_broken_file_is_one_line_with_position(self, tmp_path, content, message):
        path = tmp_path / "broken.json"
        path.write_text(content)
        run = run_main(str(path))
        assert run.returncode != 0 and run.stdout == ""
        assert run.stderr == f"{path}: {message}\n"

    @pytest.mark.parametrize("content", [None, b"\xff\xfe{}"])
    def test_unreadable_file_is_one_line(self, tmp_path, content):
        path = tmp_path / "config.json"
        if content is not None:
            path.write_bytes(content)
        run = run_main(str(path))
        assert run.returncode != 0 and run.stdout == ""
        assert run.stderr.startswith(f"{path}: ") and run.stderr.count("\n") == 1

    @pytest.mark.parametrize("method", ["continuous", "nodes"])
    def test_failed_solve_is_one_line(self, tmp_path, method):
        path = tmp_path / "short.json"
        path.write_text(Config(solver=Solver(n=10, time_of_flight=0.5)).to_json())
        run = run_main(str(path), "--method", method)
        assert run.returncode == 1 and run.stdout == ""
        assert run.stderr.startswith("solve failed: ") and run.stderr.count("\n") == 1
        if method == "nodes":
            assert run.stderr.startswith("solve failed: solver status: ")

    def test_impossible_configuration_names_the_field(self, run_inline):
        config = Config(solver=Solver(n=10, time_of_flight=-45.0))
        status, out, err = run_inline("-", stdin=config.to_json().encode())
        assert (status, out) == (1, "") and one_line(err)
        assert "time_of_flight" in err and "-45" in err


def one_line(text):
    return text.count("\n") == 1 and "Traceback" not in text


class TestVersionAndInput:
    def test_version_is_the_package_version(self, run_inline):
        project = tomllib.loads((Path(__file__).parents[2] / "pyproject.toml").read_text())
        assert tarvo.__version__ == project["project"]["version"]
        assert run_inline("--version") == (0, f"tarvo {tarvo.__version__}\n", "")

    def test_installed_tarvo_command(self):
        script = Path(sys.executable).parent / "tarvo"
        if not script.exists():
            pytest.skip("the package is not installed beside this interpreter")
        run = subprocess.run([str(script), "--version"], capture_output=True, text=True,
                             timeout=60)
        assert (run.returncode, run.stdout) == (0, f"tarvo {tarvo.__version__}\n")

    def test_dash_reads_standard_input(self, run_inline):
        status, out, err = run_inline("-", stdin=SMALL.to_json().encode())
        assert status == 0 and err == ""
        fields = summary(out)
        for name, text in expected_summary(SMALL).items():
            assert fields[name].strip() == text
        assert float(fields["touchdown error"].split()[1]) < 1e-3

    @pytest.mark.parametrize("stdin, message", [
        (b"", "<stdin>: EOF while parsing a value at line 1 column 0\n"),
        (b'{"solver": [1,]}', "<stdin>: trailing comma at line 1 column 15\n"),
        (b"\xc3\x28{}", "<stdin>: invalid UTF-8 at byte 0\n"),
    ])
    def test_bad_standard_input_is_one_line(self, run_inline, stdin, message):
        assert run_inline("-", stdin=stdin) == (1, "", message)

    def test_closed_standard_input_is_one_line(self):
        run = subprocess.run(f"'{sys.executable}' -m tarvo - <&-", shell=True,
                             capture_output=True, text=True, timeout=60)
        assert run.returncode == 1 and run.stderr == "<stdin>: standard input is closed\n"


class TestUnknownMembers:
    @pytest.mark.parametrize("text, warnings", [
        ('{"solver": {"n": 20, "time_of_fligth": 40}}',
         ["unknown member 'time_of_fligth' in record 'solver' is ignored; "
          "did you mean 'time_of_flight'?"]),
        ('{"Solver": {}, "comment": 1, "comment": 2}',
         ["unknown member 'Solver' at the top level is ignored; did you mean 'solver'?",
          "unknown member 'comment' at the top level is ignored",
          "unknown member 'comment' at the top level is ignored"]),
        ('{"environment": {"glide_slope_deg": 5, "x\\ny": 0}}',
         ["unknown member 'glide_slope_deg' in record 'environment' is ignored; "
          "did you mean 'glide_slope_angle_deg'?",
          "unknown member 'x\\ny' in record 'environment' is ignored"]),
        ('{"spacecraft": [2000, {"nonsense": 1}], "solver": {"n": 3}}', []),  # array form
        ('[{"a": 1}]', []),
        ('{"x": ' + "[" * 100_000 + "]" * 100_000 + "}", []),  # too deep for Python's json
        ('{"n": 1e999999, "x": ' + "9" * 5000 + "}", []),  # an int Python refuses to read
    ])
    def test_warning_texts(self, text, warnings):
        assert unknown_member_warnings(text) == warnings

    def test_warned_on_stderr_and_still_solved(self, run_inline):
        document = json.loads(SMALL.to_json())
        document["solver"]["tof_mx"] = 70.0
        status, out, err = run_inline("-", stdin=json.dumps(document).encode())
        assert status == 0 and summary(out)["time of flight"].strip() == "60.000 s (fixed)"
        assert err == ("warning: <stdin>: unknown member 'tof_mx' in record 'solver' is ignored;"
                       " did you mean 'tof_max'?\n")

    def test_many_unknown_members_are_counted_not_listed(self, run_inline):
        document = json.loads(SMALL.to_json())
        document.update({f"extra{index}": index for index in range(25)})
        status, _, err = run_inline("-", stdin=json.dumps(document).encode())
        lines = err.splitlines()
        assert status == 0 and len(lines) == 21
        assert lines[-1] == "warning: <stdin>: 5 more unknown members"


class TestOutputs:
    def test_plot_csv_and_result_files(self, run_inline, tmp_path):
        pandas = pytest.importorskip("pandas")
        path = tmp_path / "small.json"
        path.write_text(SMALL.to_json())
        status, out, err = run_inline(str(path), "--plot", str(tmp_path / "landing.png"),
                                      "--csv", str(tmp_path / "nodes.txt"),
                                      "--result", str(tmp_path / "result.json"))
        assert status == 0 and err == ""
        landing = tarvo.plan(SMALL)
        assert (tmp_path / "landing.png").read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
        table = pandas.read_csv(tmp_path / "nodes.txt", index_col="node")
        pandas.testing.assert_frame_equal(table, landing.to_frame(), check_exact=True)
        result = json.loads((tmp_path / "result.json").read_text())
        assert result["final_mass"] == landing.final_mass
        assert f"{result['fuel_used']:.3f} kg" in summary(out)["fuel used"]

    def test_progress_reports_every_trial(self, run_inline):
        config = Config(solver=Solver(n=20))
        status, _, err = run_inline("--progress", "-", stdin=config.to_json().encode())
        trials = tarvo.plan(config).trials
        assert status == 0 and len(trials) >= 1
        expected = []
        for number, (tof, state, mass) in enumerate(trials, start=1):
            mass_text = f", final mass {mass:.3f} kg" if math.isfinite(mass) else ""
            expected.append(f"trial {number}: time of flight {tof:.3f} s, {state}{mass_text}")
        assert err.splitlines() == expected

    @pytest.mark.parametrize("min_thrust_pct, status, verdict", [
        (0.05, 0, "Verification passed"),
        (0.2, 1, "Verification FAILED"),  # the thrust dips below the minimum between nodes
    ])
    def test_verify_prints_the_checks_and_fails_with_them(self, run_inline, min_thrust_pct,
                                                         status, verdict):
        config = Config(spacecraft=tarvo.Spacecraft(min_thrust_pct=min_thrust_pct),
                        solver=Solver(n=20, time_of_flight=60.0))
        code, out, _ = run_inline("--verify", "--method", "nodes", "-",
                                  stdin=config.to_json().encode())
        report = str(tarvo.plan(config, method="nodes").verify())
        assert code == status and report.startswith(verdict)
        assert out.endswith(report + "\n") and out.startswith("status:")

    @pytest.mark.parametrize("verify", [False, True])
    def test_failed_verification_shows_the_landing_and_fails(self, run_inline, monkeypatch,
                                                            verify):
        """A continuous landing that failed its verification: its summary, the failed check
        in the note, the report with --verify, and exit status 1."""
        config = Config(solver=Solver(n=20, time_of_flight=60.0))
        nodes = tarvo.plan(config, method="nodes")
        failed = engine._verified(tarvo.Landing(config, **{**nodes._values, "method": "continuous"}))
        assert failed.status == "VerificationFailed"
        monkeypatch.setattr("tarvo.cli.main.plan_landing", lambda *arguments: failed)
        code, out, err = run_inline(*(["--verify"] if verify else []), "-",
                                    stdin=config.to_json().encode())
        fields = summary(out.split("Verification FAILED")[0])
        assert (code, err) == (1, "") and fields["status"].strip() == "VerificationFailed"
        assert fields["note"].strip() == failed.message
        assert ("Verification FAILED" in out) == verify

    @pytest.mark.parametrize("options, message", [
        (["--csv", "{tmp}/missing/nodes.csv"], "{tmp}/missing/nodes.csv: No such file or directory"),
        (["--csv", "{tmp}/plain/nodes.csv"], "{tmp}/plain/nodes.csv: Not a directory"),
        (["--result", "{tmp}"], "{tmp}: is a folder"),
        (["--result", "{tmp}/new/"], "{tmp}/new/: is a folder"),
        (["--result", ""], "--result: the file name is empty"),
        (["--result", "{tmp}/fifo.json"], "{tmp}/fifo.json: is a FIFO, not a regular file"),
        (["--result", "/proc/self/status"], "/proc/self/status: No such file or directory"),
        (["--csv", "{tmp}/a.csv", "--result", "{tmp}/a.csv"],
         "{tmp}/a.csv: named by both --csv and --result"),
        (["--plot", "{tmp}/landing.bmpx"], "{tmp}/landing.bmpx: the image format must be one of"),
        (["--plot", "{tmp}/landing"], "{tmp}/landing: the image format must be one of"),
    ])
    def test_impossible_output_fails_before_solving(self, run_inline, tmp_path, options,
                                                     message):
        (tmp_path / "plain").write_text("")
        os.mkfifo(tmp_path / "fifo.json")
        options = [option.format(tmp=tmp_path) for option in options]
        status, out, err = run_inline(*options, "-", stdin=b"{")
        assert status == 1 and out == "" and one_line(err)
        assert err.startswith(message.format(tmp=tmp_path))
        assert sorted(os.listdir(tmp_path)) == ["fifo.json", "plain"]


# A lander with 400 kg of fuel and a target 7.6 km downrange: out of reach in 80 s.
FAR = Config(spacecraft=tarvo.Spacecraft(fuel=400.0, target_position=[7600.0, 0.0, 0.0]),
             solver=Solver(n=15, time_of_flight=80.0))


class TestPlanningOptions:
    @pytest.mark.parametrize("method", ["continuous", "nodes"])
    def test_closest_lands_near_an_unreachable_target_and_says_so(self, run_inline, method):
        status, out, err = run_inline("--method", method, "-", stdin=FAR.to_json().encode())
        assert status == 1 and err.startswith("solve failed: ")
        if method == "nodes":
            assert err == "solve failed: solver status: PrimalInfeasible\n"
        status, out, _ = run_inline("--closest", "--method", method, "-",
                                    stdin=FAR.to_json().encode())
        landing = tarvo.plan(FAR, method=method, unreachable="closest")
        lines = {name: value.strip() for name, value in summary(out).items()}
        assert status == 0 and lines["note"] == landing.message and lines["method"] == method
        assert lines["touchdown error"].startswith(f"position {landing.miss_distance:.3e} m")
        assert landing.miss_distance > 100.0

    def test_high_accuracy_closest_landing_is_verified_and_written(self, run_inline, tmp_path):
        result = tmp_path / "result.json"
        status, out, _ = run_inline("--accuracy", "high", "--closest", "--verify", "--result",
                                    str(result), "-", stdin=FAR.to_json().encode())
        landing = tarvo.plan(FAR, unreachable="closest", accuracy="high")
        report, verification = out.split("Verification passed")
        assert status == 0 and "target miss" in verification
        assert summary(report)["final mass"].strip() == f"{landing.final_mass:.3f} kg"
        document = json.loads(result.read_text())
        assert document["miss_distance"] == landing.miss_distance
        assert document["message"] == landing.message
        assert document["solver"] == landing.solver._asdict()


class TestMonteCarloCommand:
    def test_dispatches_to_the_study_command(self, monkeypatch):
        calls = []
        study_cli = types.ModuleType("tarvo.cli.study")
        study_cli.run = lambda argv: calls.append(argv) or 7
        monkeypatch.setitem(sys.modules, "tarvo.cli.study", study_cli)
        assert main(["monte-carlo", "landing.json", "--runs", "3"]) == 7
        assert calls == [["landing.json", "--runs", "3"]]
