"""`tarvo monte-carlo`; what it shares with the landing command (reading the configuration,
checking output paths, the streams) is tested with that command."""

import os

import pandas
import pytest

import tarvo
from tarvo.cli import study as study_cli

WET_MASS = "spacecraft.wet_mass=normal:20"
POSITION = "spacecraft.initial_position=uniform:-100,-100,0:100,100,0"


@pytest.fixture
def config_file(tmp_path):
    path = tmp_path / "nominal.json"
    path.write_text(tarvo.Config(solver=tarvo.Solver(n=15, time_of_flight=60.0)).to_json())
    return str(path)


def run_cli(capsys, *argv):
    status = study_cli.main([str(arg) for arg in argv])
    out, err = capsys.readouterr()
    return status, out, err


def test_study_with_planning_options_matches_the_library(capsys, tmp_path):
    far = tmp_path / "far.json"  # 400 kg of fuel, a target 7.6 km downrange: out of reach
    config = tarvo.Config(spacecraft=tarvo.Spacecraft(fuel=400.0, target_position=[7600.0, 0, 0]),
                          solver=tarvo.Solver(n=15, time_of_flight=80.0))
    far.write_text(config.to_json())
    status, out, err = run_cli(
        capsys, far, "--runs", 3, "--seed", 3, "--disperse", WET_MASS, "--disperse", POSITION,
        "--workers", 2, "--out", tmp_path / "study.csv", "--plot", tmp_path / "study.png",
        "--no-progress", "--closest", "--method", "nodes", "--accuracy", "high")
    assert (status, err) == (0, "")
    assert "seed:               3" in out and "runs:               3" in out
    expected = tarvo.monte_carlo(
        config, {"spacecraft.wet_mass": tarvo.normal(20.0),
                 "spacecraft.initial_position": tarvo.uniform([-100, -100, 0], [100, 100, 0])},
        3, seed=3, method="nodes", unreachable="closest", accuracy="high")
    written = tarvo.Study.load(tmp_path / "study.csv").table
    assert written["ok"].all()
    pandas.testing.assert_frame_equal(written.drop(columns="solve_seconds"),
                                      expected.table.drop(columns="solve_seconds"))
    assert (tmp_path / "study.png").read_bytes().startswith(b"\x89PNG")


@pytest.mark.parametrize("argv, words", [
    (["--runs", "3", "--disperse", "spacecraft.wet_mass=gamma:1"], ["--disperse", "normal:SIGMA"]),
    (["--runs", "3", "--disperse", "spacecraft.wet_mass=normal:-1"], ["negative"]),
    (["--runs", "3", "--disperse", "spacecraft.wet_mass=uniform:1:x"], ["--disperse", "'x'"]),
    (["--runs", "3", "--disperse", "spacecraft.mass=normal:1"], ["unknown", "spacecraft.wet_mass"]),
    (["--disperse", WET_MASS], ["--runs"]),
    (["--runs", "-2"], ["runs"]),
    (["--runs", "3", "--seed", "-1"], ["seed"]),
    (["--runs", "3", "--workers", "0"], ["--workers"]),
    (["--runs", "3", "--out", "study.xlsx"], [".csv", ".parquet"]),
    (["--runs", "3", "--out", "{tmp}/taken.csv"], ["taken.csv: is a folder"]),
    (["--runs", "3", "--plot", "study.docx"], [".png"]),
    (["--runs", "3", "--disperse", WET_MASS, "--disperse", "spacecraft.wet_mass=uniform:0:1"],
     ["spacecraft.wet_mass is dispersed twice"]),
    (["--runs", "3", "--workers", "2", "--scheduler", "tcp://127.0.0.1:9"],
     ["--workers and --scheduler"]),
    (["--runs", "3", "--scheduler", "tcp://127.0.0.1:9"], ["--scheduler tcp://127.0.0.1:9"]),
    (["--runs", "3", "--disperse", "spacecraft.wet_mass=uniform:-1e308:1e308"],
     ["width high - low must be a finite number"]),
    (["--runs", "3", "--bogus"], ["tarvo monte-carlo: unrecognized arguments: --bogus"]),
])
def test_bad_options_are_refused_before_planning(capsys, monkeypatch, tmp_path, config_file,
                                                 argv, words):
    (tmp_path / "taken.csv").mkdir()
    monkeypatch.setattr("tarvo.landing.engine.solve_batch", pytest.fail)
    monkeypatch.setattr(study_cli, "SCHEDULER_TIMEOUT", "0.5s")
    status, out, err = run_cli(capsys, config_file, *(arg.format(tmp=tmp_path) for arg in argv))
    assert status == 1 and err.count("\n") == 1 and "Traceback" not in err
    assert all(word in err for word in words)
    assert sorted(os.listdir(tmp_path)) == ["nominal.json", "taken.csv"]
