"""Closed-loop Monte Carlo studies and the `tarvo fly` command."""

import concurrent.futures

import numpy
import pytest

import tarvo
from tarvo.cli.study import main as study_main

pandas = pytest.importorskip("pandas")

REAL = tarvo.FlightErrors(thrust_magnitude=0.01, thrust_pointing_deg=0.5, acceleration=0.02,
                          position_knowledge=0.5, velocity_knowledge=0.05)
DISPERSIONS = {"spacecraft.initial_position": tarvo.normal([20.0, 20.0, 10.0])}
RUNS, SEED = 4, 2


def nominal():
    return tarvo.Config(solver=tarvo.Solver(n=20, time_of_flight=45.0))


def assert_plain_columns_equal(flown, plain):  # the plain study's columns, wall times aside
    timing = ["solve_seconds", "worst_guidance_seconds"]
    pandas.testing.assert_frame_equal(
        *(table[plain.columns].drop(columns=timing, errors="ignore") for table in (flown, plain)))


@pytest.fixture(scope="module")
def flown():
    return tarvo.monte_carlo(nominal(), DISPERSIONS, RUNS, seed=SEED, errors=REAL, workers=1)


def test_flown_runs_keep_the_plain_study_and_add_the_flights_their_summary_and_files(
        flown, tmp_path):
    plain = tarvo.monte_carlo(nominal(), DISPERSIONS, RUNS, seed=SEED)
    assert plain.errors is None and "landed" not in plain.table.columns
    assert plain.summary().flights is None
    table = flown.table
    assert_plain_columns_equal(table, plain.table)
    assert table["replans"].gt(10).all() and table["landed"].dtype == bool
    for run in range(RUNS):
        flight, row = flown.run_flight(run), table.loc[run]
        assert row["flight_touchdown_position_error"] == flight.touchdown_position_error
        assert row["flight_fuel_used"] == flight.fuel_used
        assert row["replans"] == len(flight.replans) and row["landed"] == flight.ok
        miss = flight.positions[-1] - flight.config.spacecraft.target_position
        assert list(row[["flight_miss_x", "flight_miss_y", "flight_miss_z"]]) == list(miss)
    errors = table["flight_touchdown_position_error"]
    assert errors.max() <= 2.0
    summary = flown.summary()
    flights, landed = summary.flights, int(table["landed"].sum())
    assert flights.landings == landed and flights.landing_rate == landed / RUNS
    assert flights.landing_interval == tarvo.study.summary.wilson_interval(landed, RUNS)
    assert flights.touchdown_position_error == pytest.approx(
        tuple(numpy.percentile(errors, [50, 95, 99])))
    assert flights.replans == table["replans"].sum() and "landed:" in str(summary)
    for name in ("study.csv", "study.parquet"):
        flown.save(tmp_path / name)
        read = tarvo.Study.load(tmp_path / name)
        pandas.testing.assert_frame_equal(read.table, flown.table)
        assert read == flown  # the flight options too, the wall times aside
    same = dict(config=flown.config, dispersions=flown.dispersions, seed=flown.seed)
    assert tarvo.Study(flown.table, **same, errors=REAL, replan_every=2.0) != flown
    assert tarvo.Study(flown.table, **same) != flown  # no flight options
    pytest.importorskip("matplotlib")
    assert [axes.get_title() for axes in flown.plot().axes][3:] == ["Touchdown"]


def test_open_loop_runs_keep_the_plain_study_of_their_method_and_miss():
    plain = tarvo.monte_carlo(nominal(), DISPERSIONS, 2, seed=SEED, method="nodes")
    table = tarvo.monte_carlo(nominal(), DISPERSIONS, 2, seed=SEED, method="nodes",
                              errors=REAL, replan_every=None).table
    assert_plain_columns_equal(table, plain.table)
    assert table["replans"].eq(0).all() and table["worst_guidance_seconds"].isna().all()
    assert table["flight_touchdown_position_error"].min() > 2.0


def test_runs_an_executor_fails_are_rows():
    refusing = concurrent.futures.ThreadPoolExecutor(1)
    refusing.shutdown()  # it refuses every task
    table = tarvo.monte_carlo(nominal(), DISPERSIONS, RUNS, seed=SEED, errors=REAL,
                              executor=refusing).table
    assert (table["flight_status"] == "WorkerFailed").all() and not table["landed"].any()
    assert table["flight_message"].str.contains("after shutdown").all()


ERROR_ARGUMENTS = ("--thrust-error", 0.01, "--pointing-error", 0.5, "--acceleration-error", 0.02,
                   "--position-error", 0.5, "--velocity-error", 0.05)


class TestFlyCommand:
    def test_flies_prints_and_writes(self, run_inline, tmp_path):
        status, out, err = run_inline("fly", "-", *ERROR_ARGUMENTS, "--seed", 3, "--progress",
                                      "--plot", tmp_path / "flight.png",
                                      stdin=nominal().to_json().encode())
        flight = tarvo.fly(nominal(), errors=REAL, seed=3)
        assert status == (0 if flight.ok else 1)
        assert f"status:           {flight.status}" in out
        assert f"position {flight.touchdown_position_error:.3f} m" in out
        assert f"re-plans:         {len(flight.replans)} (" in out
        assert err.count("re-plan at t = ") == len(flight.replans)
        assert (tmp_path / "flight.png").read_bytes().startswith(b"\x89PNG")

    def test_open_loop_misses_and_says_so(self, run_inline):
        status, out, err = run_inline("fly", *ERROR_ARGUMENTS, "--open-loop")
        assert status == 1 and "MissedTarget" in out and "0 (0 failed), open loop" in out

    @pytest.mark.parametrize("argv, word", [
        (["--position-error", "nan"], "position_knowledge"),
        (["--open-loop", "--replan-every", "1"], "exclude"),
        (["-"], "guidance failed: the first plan failed: "),  # with 5 kg of fuel
    ])
    def test_bad_options_and_a_failed_plan_are_one_line(self, run_inline, argv, word):
        no_fuel = tarvo.Config(spacecraft=tarvo.Spacecraft(fuel=5.0)).to_json().encode()
        status, out, err = run_inline("fly", *argv, stdin=no_fuel)
        assert status == 1 and out == "" and err.count("\n") == 1 and word in err


def test_study_command_flies_with_the_flight_options(capsys, tmp_path):
    config, out_file = tmp_path / "nominal.json", tmp_path / "study.csv"
    config.write_text(nominal().to_json())
    common = [str(config), "--runs", "2", "--seed", "1", "--no-progress"]
    assert study_main([*common, *map(str, ERROR_ARGUMENTS), "--out", str(out_file)]) == 0
    assert "touchdown miss (m):" in capsys.readouterr().out
    assert tarvo.Study.load(out_file).errors == REAL
    assert study_main([*common, "--velocity-error", "-1"]) == 1
    assert "velocity_knowledge" in capsys.readouterr().err
