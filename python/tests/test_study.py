import math
import pickle
import re
import sys
from concurrent.futures import ThreadPoolExecutor

import numpy
import pandas
import pytest

import tarvo
import tarvo.landing.batch
from tarvo.study.dispersions import DispersionPlan
from tarvo.study.summary import wilson_interval

NODES, TOF = 15, 60.0
# Short times of flight are infeasible at this vehicle's thrust: a study with both outcomes.
MIXED = {"solver.time_of_flight": tarvo.uniform(-45.0, 10.0),
         "spacecraft.initial_position": tarvo.normal([150.0, 150.0, 0.0]),
         "spacecraft.wet_mass": tarvo.normal(10.0)}


def nominal():
    return tarvo.Config(solver=tarvo.Solver(n=NODES, time_of_flight=TOF))


@pytest.fixture(scope="module")
def mixed():
    return tarvo.monte_carlo(nominal(), MIXED, 20, seed=1)


def assert_same_runs(table, reference):  # the wall times of the solves aside
    pandas.testing.assert_frame_equal(*(frame.drop(columns="solve_seconds")
                                        for frame in (table, reference)))


@pytest.mark.parametrize("make, arguments, error", [
    ("normal", [-1.0], ValueError), ("normal", [[1.0, -0.5, 1.0]], ValueError),
    ("normal", [math.nan], ValueError), ("normal", [[1.0, 2.0]], ValueError),
    ("normal", ["1"], TypeError), ("uniform", [2.0, 1.0], ValueError),
    ("uniform", [-1.0, [1.0, -2.0, 1.0]], ValueError), ("uniform", [math.nan, 1.0], ValueError),
    ("uniform", [-1e308, 1e308], ValueError),  # a width beyond the largest float
])
def test_bad_distributions_are_refused(make, arguments, error):
    with pytest.raises(error):
        getattr(tarvo, make)(*arguments)


@pytest.mark.parametrize("changed, error, words", [
    (dict(dispersions={"spacecraft.wet_mas": tarvo.normal(1)}), ValueError,
     ["'spacecraft.wet_mas'", "spacecraft.wet_mass", "environment.gravity"]),
    (dict(dispersions={"solver.n": tarvo.normal(1)}), ValueError, ["solver.n", "integer"]),
    (dict(config=tarvo.Config(solver=tarvo.Solver(n=NODES)),
          dispersions={"solver.time_of_flight": tarvo.normal(1)}), ValueError, ["unset"]),
    (dict(dispersions={"spacecraft.wet_mass": tarvo.normal([1, 1, 1])}), ValueError, ["scalar"]),
    (dict(dispersions={"spacecraft.wet_mass": 3.0}), TypeError, ["tarvo.normal"]),
    (dict(dispersions=[("spacecraft.wet_mass", tarvo.normal(1))]), TypeError, ["map"]),
    (dict(runs=-1), ValueError, ["runs"]), (dict(runs=True), TypeError, ["runs"]),
    (dict(seed=-3), ValueError, ["seed"]), (dict(seed=1.5), TypeError, ["seed"]),
    (dict(config=nominal().to_json()), TypeError, ["Config"]),
    (dict(errors=0.01), TypeError, ["errors"]),
    (dict(errors=tarvo.FlightErrors(), replan_every=0.0), ValueError, ["replan_every"]),
    (dict(errors=tarvo.FlightErrors(), method="exact"), ValueError, ["method"]),
    (dict(method="nodes", accuracy="standard"), ValueError, ["accuracy"]),
])
def test_bad_studies_fail_before_any_run_is_drawn(monkeypatch, changed, error, words):
    monkeypatch.setattr(DispersionPlan, "draw", pytest.fail)
    monkeypatch.setattr("tarvo.landing.engine.solve_batch", pytest.fail)
    arguments = {"config": nominal(), "dispersions": {}, "runs": 5, "seed": 0, **changed}
    with pytest.raises(error) as info:
        tarvo.monte_carlo(**arguments)
    assert all(word in str(info.value) for word in words)


def test_draws_follow_their_distributions_and_depend_only_on_seed_and_run():
    plan = DispersionPlan(nominal(), MIXED)
    assert plan.draw(7, 3) == plan.draw(7, 3) != plan.draw(8, 3)
    # Not a stream of seed + run, which would share runs between nearby seeds.
    assert plan.draw(0, 1) != plan.draw(1, 0) and plan.draw(5, 2) != plan.draw(6, 1)
    study = tarvo.monte_carlo(nominal(), MIXED, 6, seed=7)
    longer = tarvo.monte_carlo(nominal(), MIXED, 9, seed=7)
    assert_same_runs(longer.table.iloc[:6], study.table)
    rebuilt = study.run_config(4).spacecraft
    assert rebuilt.wet_mass == study.table.loc[4, "spacecraft.wet_mass"]
    assert rebuilt.initial_position[2] == 2400.0  # sigma 0 keeps the nominal component
    assert study.run_config(4).solver.time_of_flight == study.table.loc[4, "solver.time_of_flight"]
    plan = DispersionPlan(nominal(), {"spacecraft.initial_velocity": tarvo.normal([2.0, 0.0, 5.0]),
                                      "spacecraft.fuel": tarvo.uniform(-10.0, 30.0)})
    draws = numpy.array([plan.draw(11, run) for run in range(4000)])  # their distributions
    fuel, velocity = draws[:, 0], draws[:, 1:]
    assert fuel.min() >= 1690.0 and fuel.max() <= 1730.0 and abs(fuel.mean() - 1710.0) < 1.0
    assert numpy.allclose(velocity.mean(axis=0), [-40.0, 10.0, -10.0], atol=0.3)
    assert numpy.allclose(velocity.std(axis=0), [2.0, 0.0, 5.0], atol=0.2)


class StopStudy(Exception):
    pass


@pytest.mark.parametrize("executor", [None, ThreadPoolExecutor(3)], ids=["local", "executor"])
def test_runs_are_drawn_block_by_block_as_they_are_planned(mixed, monkeypatch, executor):
    monkeypatch.setattr(tarvo.landing.batch, "LOCAL_BLOCK", 3)
    monkeypatch.setattr(tarvo.landing.batch, "MAX_IN_FLIGHT", 2)
    study = tarvo.monte_carlo(nominal(), MIXED, 20, seed=1, executor=executor)
    assert_same_runs(study.table, mixed.table)
    monkeypatch.undo()  # a huge study at the real block sizes shows progress at once
    draw, drawn = DispersionPlan.draw, []

    def counted_draw(plan, seed, run):
        drawn.append(run)
        assert len(drawn) <= 20_000, "drew 20,000 runs before any landing was planned"
        return draw(plan, seed, run)

    def stop(done, total):
        raise StopStudy(done, total)

    monkeypatch.setattr(DispersionPlan, "draw", counted_draw)
    with pytest.raises(StopStudy) as info:
        tarvo.monte_carlo(nominal(), MIXED, 10**12, seed=3, executor=executor, progress=stop)
    done, total = info.value.args
    assert total == 10**12 and 1 <= done <= len(drawn)
    if executor is None:  # flown runs, too, are drawn as they go out
        drawn.clear()
        with pytest.raises(StopStudy):
            tarvo.monte_carlo(nominal(), MIXED, 10**12, seed=3, progress=stop,
                              errors=tarvo.FlightErrors())


def test_same_seed_same_table_whatever_runs_it(mixed, tmp_path, capsys):
    """Threads, a Dask cluster of processes, the command line on its scheduler; flown runs too."""
    distributed = pytest.importorskip("dask.distributed")
    from tarvo.cli.study import main

    assert_same_runs(tarvo.monte_carlo(nominal(), MIXED, 20, seed=1, workers=1).table, mixed.table)
    (tmp_path / "nominal.json").write_text(nominal().to_json())
    errors = tarvo.FlightErrors(thrust_magnitude=0.01, position_knowledge=0.5)
    flown = tarvo.monte_carlo(nominal(), MIXED, 3, seed=1, errors=errors, workers=1)
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster:
        with distributed.Client(cluster) as client:
            study = tarvo.monte_carlo(nominal(), MIXED, 20, seed=1, executor=client.get_executor())
            on_dask = tarvo.monte_carlo(nominal(), MIXED, 3, seed=1, errors=errors,
                                        executor=client.get_executor())
        status = main([str(tmp_path / "nominal.json"), "--runs", "20", "--seed", "1",
                       "--disperse", "solver.time_of_flight=uniform:-45:10",
                       "--disperse", "spacecraft.initial_position=normal:150,150,0",
                       "--disperse", "spacecraft.wet_mass=normal:10",
                       "--scheduler", cluster.scheduler_address, "--out", str(tmp_path / "s.csv")])
    assert (status, capsys.readouterr().err) == (0, "")
    assert_same_runs(study.table, mixed.table)
    assert_same_runs(tarvo.Study.load(tmp_path / "s.csv").table, mixed.table)
    assert on_dask == flown and flown.table["replans"].gt(10).any()


def test_failed_runs_are_rows_with_nan_outcomes_and_the_summary_counts_them(mixed):
    table = mixed.table
    assert list(table["run"]) == list(range(20))
    failed, landed = table[~table["ok"]], table[table["ok"]]
    assert 0 < len(failed) < 20
    assert failed["message"].str.len().gt(0).all() and landed["message"].isna().all()
    outcome = ["time_of_flight", "final_mass", "fuel_used", "peak_thrust",
               "touchdown_position_error", "touchdown_velocity_error"]
    assert failed[outcome].isna().all().all() and landed[outcome].notna().all().all()
    assert numpy.allclose(landed["fuel_used"], landed["spacecraft.wet_mass"] - landed["final_mass"])
    assert (landed["time_of_flight"] == landed["solver.time_of_flight"]).all()
    assert landed["touchdown_position_error"].max() < 1e-3
    assert (landed["peak_thrust"] <= 0.8 * 24000.0 * (1 + 1e-6)).all()
    summary = mixed.summary()
    assert (summary.runs, summary.successes) == (20, len(landed))
    assert summary.success_interval == wilson_interval(len(landed), 20)
    assert summary.failures == failed["status"].value_counts().to_dict()
    fuel = landed["fuel_used"].to_numpy()
    assert summary.fuel_used.mean == pytest.approx(fuel.mean())
    assert summary.fuel_used.std == pytest.approx(fuel.std(ddof=1))
    assert summary.time_of_flight.p95 == pytest.approx(numpy.percentile(landed["time_of_flight"], 95))
    assert all(status in str(summary) for status in summary.failures)
    fuel, positions, _ = mixed.plot().axes  # the landings' fuel, where each run started
    assert sum(patch.get_height() for patch in fuel.patches) == len(landed)
    for points, runs in zip(positions.collections, (landed, failed)):
        assert numpy.array_equal(points.get_offsets(), runs[
            ["spacecraft.initial_position[0]", "spacecraft.initial_position[1]"]].to_numpy())


def test_planning_options_reach_every_run():
    options = dict(method="nodes", unreachable="closest", accuracy="high")
    # 400 kg of fuel and a target 7.6 km downrange: out of reach in 80 s.
    far = tarvo.Config(spacecraft=tarvo.Spacecraft(fuel=400.0, target_position=[7600.0, 0.0, 0.0]),
                       solver=tarvo.Solver(n=NODES, time_of_flight=80.0))
    study = tarvo.monte_carlo(far, {"spacecraft.target_position": tarvo.normal([20.0, 20.0, 0.0])},
                              2, seed=5, **options)
    for run, row in study.table.iterrows():
        landing = tarvo.plan(study.run_config(run), **options)
        assert row["ok"] and row["final_mass"] == landing.final_mass
        assert row["touchdown_position_error"] == pytest.approx(landing.miss_distance, rel=1e-6)


@pytest.mark.parametrize("successes, trials, low, high", [
    # Wilson 95 % score intervals worked by hand from (p + z²/2n ± z·√(p(1-p)/n + z²/4n²)) / (1 + z²/n)
    (8, 10, 0.4901625, 0.9433178), (0, 10, 0.0, 0.2775328), (10, 10, 0.7224672, 1.0),
    (50, 100, 0.4038315, 0.5961685), (0, 0, 0.0, 1.0),
])
def test_wilson_interval(successes, trials, low, high):
    assert wilson_interval(successes, trials) == pytest.approx((low, high), abs=1e-7)


def test_empty_study_summarises_and_round_trips(tmp_path):
    study = tarvo.monte_carlo(nominal(), {"spacecraft.wet_mass": tarvo.normal(1.0)}, 0, seed=0)
    summary = study.summary()
    assert summary.runs == 0 and math.isnan(summary.success_rate) and math.isnan(summary.fuel_used.mean)
    assert summary.success_interval == (0.0, 1.0)
    study.save(tmp_path / "empty.csv")
    assert tarvo.Study.load(tmp_path / "empty.csv").table.dtypes.equals(study.table.dtypes)
    study.plot()


def test_studies_compare_by_value_read_back_by_suffix_and_refuse_plain_tables(mixed, tmp_path):
    mixed.save(tmp_path / "STUDY.CSV")  # Parquet files are read back with the flights
    loaded = tarvo.Study.load(tmp_path / "STUDY.CSV")
    pandas.testing.assert_frame_equal(loaded.table, mixed.table)
    assert loaded == mixed == pickle.loads(pickle.dumps(mixed)) and not loaded != mixed
    with pytest.raises(ValueError, match=r"\.parquet or \.csv"):
        mixed.save(tmp_path / "study.xlsx")
    mixed.table.drop(columns="status").to_csv(tmp_path / "plain.csv", index=False)
    with pytest.raises(ValueError, match="not a study table"):
        tarvo.Study.load(tmp_path / "plain.csv")
    mixed.table.to_csv(tmp_path / "bare.csv", index=False)  # no metadata line: the table only
    bare = tarvo.Study.load(tmp_path / "bare.csv")
    assert bare.seed is None and bare.summary() == mixed.summary()
    same = dict(config=mixed.config, dispersions=mixed.dispersions, seed=mixed.seed)
    assert tarvo.Study(mixed.table.assign(solve_seconds=0.0), **same) == mixed  # wall times aside
    for table, changed in [(mixed.table.iloc[:-1], {}), (mixed.table, {"seed": 2}),
                           (mixed.table, {"config": None}),
                           (mixed.table.assign(final_mass=0.0), {})]:
        assert tarvo.Study(table, **{**same, **changed}) != mixed


@pytest.mark.parametrize("missing, extra, use", [
    ("pandas", "table", lambda study, path: tarvo.monte_carlo(nominal(), {}, 1, seed=0)),
    ("pyarrow", "table", lambda study, path: study.save(path / "study.parquet")),
])
def test_missing_optional_package_names_the_extra(monkeypatch, mixed, tmp_path,
                                                  missing, extra, use):
    for name in [name for name in sys.modules if name.partition(".")[0] == missing]:
        monkeypatch.setitem(sys.modules, name, None)
    with pytest.raises(ImportError, match=re.escape(f"needs {missing}: pip install tarvo[{extra}]")):
        use(mixed, tmp_path)
    assert not any(tmp_path.iterdir())
