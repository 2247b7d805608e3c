import subprocess
import sys

import pytest

from tarvo import Config, Solver


def run_main(*args):
    return subprocess.run([sys.executable, "-m", "tarvo", *args], capture_output=True, text=True,
                          timeout=300)


def summary(stdout):
    return dict(line.split(":", 1) for line in stdout.strip().split("\n"))


class TestMainJob:
    def test_print_default_config(self):
        run = run_main("--print-default-config")
        assert run.returncode == 0 and run.stderr == ""
        assert run.stdout == Config().to_json() + "\n"

    def test_default_configuration_search(self):
        run = run_main()
        assert run.returncode == 0, run.stderr
        fields = summary(run.stdout)
        assert fields["status"].strip() in ("Solved", "AlmostSolved")
        assert fields["nodes"].strip() == "100"
        assert fields["time of flight"].strip().endswith("s (searched)")
        assert 300.0 <= float(fields["final mass"].split()[0]) < 2000.0
        assert {"fuel used", "peak thrust", "touchdown error"} <= set(fields)

    def test_configuration_file_with_fixed_time(self, tmp_path):
        path = tmp_path / "landing.json"
        path.write_text(Config(solver=Solver(n=20, time_of_flight=60.0)).to_json())
        run = run_main(str(path))
        assert run.returncode == 0, run.stderr
        fields = summary(run.stdout)
        assert fields["time of flight"].strip() == "60.000 s (fixed)"
        assert float(fields["touchdown error"].split()[1]) < 1e-3

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

    def test_failed_solve_is_one_line(self, tmp_path):
        path = tmp_path / "short.json"
        path.write_text(Config(solver=Solver(n=10, time_of_flight=0.5)).to_json())
        run = run_main(str(path))
        assert run.returncode == 1 and run.stdout == ""
        assert run.stderr.startswith("solve failed: solver status: ") and run.stderr.count("\n") == 1
