import os
import subprocess
import sys

import pandas
import pytest

import tarvo
from tarvo.cli import study as _study_cli

from conftest import run_python

WET_MASS = "spacecraft.wet_mass=normal:20"
POSITION = "spacecraft.initial_position=uniform:-100,-100,0:100,100,0"


@pytest.fixture
def config_file(tmp_path):
    path = tmp_path / "nominal.json"
    path.write_text(tarvo.Config(solver=tarvo.Solver(n=15, time_of_flight=60.0)).to_json())
    return str(path)


def run_cli(capsys, *argv):
    status = _study_cli.main([str(arg) for arg in argv])
    out, err = capsys.readouterr()
    return status, out, err


def one_line_failure(status, err):
    assert status == 1 and err.count("\n") == 1 and "Traceback" not in err
    return err


@pytest.mark.parametrize("table", ["study.parquet", "study.csv"])
def test_cli_study_matches_the_library(capsys, tmp_path, config_file, table):
    status, out, err = run_cli(
        capsys, config_file, "--runs", 8, "--seed", 3, "--disperse", WET_MASS,
        "--disperse", POSITION, "--workers", 2, "--out", tmp_path / table,
        "--plot", tmp_path / "study.png", "--no-progress")
    assert (status, err) == (0, "")
    assert "seed:               3" in out and "runs:               8" in out
    expected = tarvo.monte_carlo(
        tarvo.Config.from_json(open(config_file).read()),
        {"spacecraft.wet_mass": tarvo.normal(20.0),
         "spacecraft.initial_position": tarvo.uniform([-100, -100, 0], [100, 100, 0])}, 8, seed=3)
    written = tarvo.Study.load(tmp_path / table)
    pandas.testing.assert_frame_equal(written.table.drop(columns="solve_seconds"),
                                      expected.table.drop(columns="solve_seconds"))
    assert (tmp_path / "study.png").read_bytes().startswith(b"\x89PNG")


def test_cli_reads_standard_input_and_shows_progress(config_file):
    result = run_python("import sys; from tarvo.cli.study import main; sys.exit(main())",
                        "-", "--runs", "3", "--progress", stdin=open(config_file).read())
    assert result.returncode == 0 and "runs:               3" in result.stdout


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
    (["--runs", "3", "--out", "/nonexistent-dir/study.csv"],
     ["/nonexistent-dir/study.csv: No such file or directory"]),
    (["--runs", "3", "--out", "{tmp}/taken.csv"], ["taken.csv: is a folder"]),
    (["--runs", "3", "--out", "{tmp}/fifo.csv"], ["fifo.csv: is a FIFO"]),
    (["--runs", "3", "--out", "{tmp}/nominal.json/study.csv"], ["Not a directory"]),
    (["--runs", "3", "--plot", "study.docx"], [".png"]),
    (["--runs", "3", "--disperse", WET_MASS, "--disperse", "spacecraft.wet_mass=uniform:0:1"],
     ["spacecraft.wet_mass is dispersed twice"]),
    (["--runs", "3", "--workers", "2", "--scheduler", "tcp://127.0.0.1:9"],
     ["--workers and --scheduler"]),
    (["--runs", "3", "--disperse", "spacecraft.wet_mass=uniform:-1e308:1e308"],
     ["width high - low must be a finite number"]),
    (["--runs", "3", "--bogus"], ["tarvo monte-carlo: unrecognized arguments: --bogus"]),
])
def test_cli_refuses_bad_options_before_planning(capsys, monkeypatch, tmp_path, config_file,
                                                 argv, words):
    (tmp_path / "taken.csv").mkdir()
    os.mkfifo(tmp_path / "fifo.csv")
    monkeypatch.setattr("tarvo.landing.engine.solve_batch", pytest.fail)
    status, out, err = run_cli(capsys, config_file, *(arg.format(tmp=tmp_path) for arg in argv))
    assert all(word in one_line_failure(status, err) for word in words)
    assert sorted(os.listdir(tmp_path)) == ["fifo.csv", "nominal.json", "taken.csv"]


@pytest.mark.parametrize("content, words", [
    (None, ["missing.json", "No such file"]),
    ('{"solver": {"n": -1}}', ["line", "column"]),
])
def test_cli_reports_unreadable_configurations(capsys, tmp_path, content, words):
    path = tmp_path / "missing.json"
    if content is not None:
        path.write_text(content)
    status, _, err = run_cli(capsys, path, "--runs", 2)
    assert all(word in one_line_failure(status, err) for word in words)


def test_cli_names_unknown_members_and_still_plans(capsys, tmp_path):
    path = tmp_path / "nominal.json"
    path.write_text('{"solver": {"n": 15, "time_of_flight": 60, "time_of_fligth": 50}}')
    status, out, err = run_cli(capsys, path, "--runs", 2)
    assert status == 0 and "runs:               2" in out
    assert err == (f"warning: {path}: unknown member 'time_of_fligth' in record 'solver' is "
                   "ignored; did you mean 'time_of_flight'?\n")


def test_cli_closed_standard_output_still_writes_the_study(tmp_path, config_file):
    table = tmp_path / "study.csv"
    command = (f"{sys.executable} -m tarvo.cli.study {config_file} --runs 3 --out {table} "
               "| true; echo status=${PIPESTATUS[0]} >&2")
    result = subprocess.run(["bash", "-c", command], capture_output=True, text=True, timeout=120)
    assert result.stderr == "standard output: Broken pipe\nstatus=1\n"
    assert tarvo.Study.load(table).runs == 3


def test_cli_closed_standard_input():
    command = f"{sys.executable} -m tarvo.cli.study - --runs 3 0<&-"
    result = subprocess.run(["bash", "-c", command], capture_output=True, text=True, timeout=120)
    assert result.returncode == 1 and result.stderr == "<stdin>: standard input is closed\n"


def test_cli_plans_on_a_dask_scheduler(capsys, monkeypatch, config_file):
    distributed = pytest.importorskip("dask.distributed")
    with distributed.LocalCluster(n_workers=1, processes=False, dashboard_address=None) as cluster:
        status, out, err = run_cli(capsys, config_file, "--runs", 4, "--disperse", WET_MASS,
                                   "--scheduler", cluster.scheduler_address)
    assert (status, err) == (0, "") and "runs:               4" in out
    monkeypatch.setattr(_study_cli, "SCHEDULER_TIMEOUT", "0.5s")
    status, _, err = run_cli(capsys, config_file, "--runs", 2, "--scheduler", "tcp://127.0.0.1:9")
    assert "--scheduler tcp://127.0.0.1:9" in one_line_failure(status, err)


def test_cli_planning_options_reach_the_study(capsys, tmp_path):
    far = tmp_path / "far.json"  # 400 kg of fuel, a target 7.6 km downrange: out of reach
    far.write_text(tarvo.Config(
        spacecraft=tarvo.Spacecraft(fuel=400.0, target_position=[7600.0, 0.0, 0.0]),
        solver=tarvo.Solver(n=15, time_of_flight=80.0)).to_json())
    out_table = tmp_path / "study.csv"
    for options, landed in (((), 0), (("--closest", "--method", "nodes", "--accuracy", "high"), 1)):
        status, out, err = run_cli(capsys, far, "--runs", 1, "--disperse", WET_MASS,
                                   "--out", out_table, "--no-progress", *options)
        assert (status, err) == (0, "")
        assert tarvo.Study.load(out_table).table["ok"].sum() == landed
    table = tarvo.Study.load(out_table).table
    run = tarvo.monte_carlo(tarvo.Config.from_json(far.read_text()),
                            dict([_study_cli.parse_dispersion(WET_MASS)]), 1, seed=0)
    nodes = tarvo.plan(run.run_config(0), method="nodes", unreachable="closest", accuracy="high")
    assert table["final_mass"][0] == nodes.final_mass
