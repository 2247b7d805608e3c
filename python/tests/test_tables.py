import json
import re
import sys

import numpy
import pytest

import tarvo
from conftest import small_config
from landing_checks import NODE_ARRAYS

pandas = pytest.importorskip("pandas")

COLUMNS = ["t_s", "x_m", "y_m", "z_m", "vx_m_per_s", "vy_m_per_s", "vz_m_per_s",
           "ux_m_per_s2", "uy_m_per_s2", "uz_m_per_s2", "sigma_m_per_s2", "thrust_N", "mass_kg"]


@pytest.fixture(scope="module")
def landing():
    return tarvo.plan(small_config())


@pytest.fixture(scope="module")
def failed():
    return tarvo.plan(tarvo.Config(solver=tarvo.Solver(n=10, time_of_flight=0.5)))


def read_strict_json(path):
    """JSON as the standard has it: NaN and Infinity are not JSON."""
    return json.loads(path.read_text(), parse_constant=lambda constant: pytest.fail(f"not JSON: {constant}"))


def test_one_row_per_node_with_every_quantity(landing, failed, monkeypatch):
    frame = landing.to_frame()
    assert list(frame.columns) == COLUMNS and frame.index.name == "node"
    expected = numpy.column_stack([
        landing.time_points, landing.positions, landing.velocities, landing.u_values,
        landing.s_values, landing.thrusts, landing.masses])
    numpy.testing.assert_array_equal(frame.to_numpy(), expected)
    frame = failed.to_frame()  # the columns and no rows
    assert list(frame.columns) == COLUMNS and len(frame) == 0
    assert frame.attrs["ok"] is False and frame.attrs["final_mass"] is None
    monkeypatch.setitem(sys.modules, "pandas", None)
    with pytest.raises(ImportError, match=re.escape("pip install tarvo[table]")):
        landing.to_frame()


def test_table_files_read_back_exactly(landing, tmp_path):
    landing.save(tmp_path / "LANDING.CSV")
    landing.save(tmp_path / "landing.parquet")
    for frame in (pandas.read_csv(tmp_path / "LANDING.CSV", index_col="node"),
                  pandas.read_parquet(tmp_path / "landing.parquet")):
        pandas.testing.assert_frame_equal(frame, landing.to_frame(), check_exact=True)
    attrs = frame.attrs  # Parquet keeps the configuration and the results
    assert attrs["config"] == landing.config.to_json()
    assert attrs["final_mass"] == landing.final_mass and attrs["status"] == landing.status


def test_json_document_reads_back(landing, failed, tmp_path):
    landing.save(tmp_path / "landing.json")
    document = read_strict_json(tmp_path / "landing.json")
    assert tarvo.Config.from_json(json.dumps(document["config"])).to_json() == landing.config.to_json()
    for name in ("ok", "status", "message", "time_of_flight", "final_mass", "fuel_used",
                 "objective", "iterations", "solve_seconds", "miss_distance"):
        assert document[name] == getattr(landing, name), name
    assert [tuple(trial.values()) for trial in document["trials"]] == list(landing.trials)
    for name in (*NODE_ARRAYS, "masses"):
        numpy.testing.assert_array_equal(numpy.array(document[name]), getattr(landing, name))
    failed.save(tmp_path / "failed.json")  # its non-finite numbers as null
    document = read_strict_json(tmp_path / "failed.json")
    assert document["ok"] is False and document["message"] == failed.message
    assert document["final_mass"] is None and document["time_of_flight"] is None
    assert document["positions"] == [] and document["config"]["solver"]["n"] == 10


@pytest.mark.parametrize("name", ["landing.xlsx", "landing", "landing.csv.gz"])
def test_unknown_suffix_names_the_supported_ones(landing, tmp_path, name):
    with pytest.raises(ValueError, match=re.escape(".csv, .json, .parquet")):
        landing.save(tmp_path / name)
    assert list(tmp_path.iterdir()) == []
