import math
import re
import sys

import numpy
import pytest

import tarvo
from conftest import SMALL_N, SMALL_TOF, run_python

matplotlib = pytest.importorskip("matplotlib")

UNIT = re.compile(r"\((m|s|N|kg|m/s)\)$")


def landing_with(spacecraft=None, environment=None):
    return tarvo.plan(tarvo.Config(
        spacecraft=spacecraft or tarvo.Spacecraft(),
        environment=environment or tarvo.Environment(),
        solver=tarvo.Solver(n=SMALL_N, time_of_flight=SMALL_TOF)))


@pytest.fixture(scope="module")
def landing():
    return landing_with()


def panels_of(landing):
    return {axes.get_title(): axes for axes in landing.plot().axes}


@pytest.fixture(scope="module")
def panels(landing):
    return panels_of(landing)


def line(axes, label):
    """The one line of axes labelled label, or else whose label starts with it."""
    found = [each for each in axes.get_lines() if each.get_label() == label] or [
        each for each in axes.get_lines() if each.get_label().startswith(label)]
    assert len(found) == 1, [each.get_label() for each in axes.get_lines()]
    return found[0]


def test_five_panels_with_units_showing_the_landing_data(landing, panels):
    assert isinstance(landing.plot(), matplotlib.figure.Figure)
    assert set(panels) == {"path", "altitude", "thrust", "mass", "speed"}
    for title, axes in panels.items():
        labels = [axes.get_xlabel(), axes.get_ylabel(), *([axes.get_zlabel()] if title == "path" else [])]
        assert all(UNIT.search(label) for label in labels), (title, labels)
    positions = landing.positions
    x, y, z = line(panels["path"], "trajectory").get_data_3d()
    numpy.testing.assert_array_equal(numpy.column_stack([x, y, z]), positions)
    altitude = line(panels["altitude"], "trajectory")
    numpy.testing.assert_allclose(altitude.get_xdata(), numpy.hypot(positions[:, 0], positions[:, 1]))
    numpy.testing.assert_array_equal(altitude.get_ydata(), positions[:, 2])
    for title, values in [("thrust", landing.thrusts), ("mass", landing.masses),
                          ("speed", numpy.linalg.norm(landing.velocities, axis=1))]:
        curve = line(panels[title], title)
        numpy.testing.assert_array_equal(curve.get_xdata(), landing.time_points)
        numpy.testing.assert_allclose(curve.get_ydata(), values)
    # Without a glide slope, the ground is the floor.
    assert list(line(panels["altitude"], "altitude floor").get_ydata()) == [0.0, 0.0]
    assert not any(each.get_label().startswith("glide-slope") for each in panels["path"].collections)


@pytest.mark.parametrize("panel, label, value, off_scale, spacecraft", [
    ("thrust", "maximum thrust", 24000.0 * 0.8, False, None),
    ("thrust", "minimum thrust", 24000.0 * 0.2, False, None),
    ("mass", "dry mass", 2000.0 - 1700.0, True, None),
    ("speed", "speed limit", 1000.0, True, None),
    ("speed", "speed limit", 90.0, False, tarvo.Spacecraft(max_velocity=90.0)),
])
def test_limits_are_drawn_at_their_values(panels, panel, label, value, off_scale, spacecraft):
    axes = panels_of(landing_with(spacecraft))[panel] if spacecraft else panels[panel]
    limit = line(axes, label)
    assert list(limit.get_ydata()) == [value, value]
    low, high = axes.get_ylim()
    assert (not low <= value <= high) == off_scale
    assert limit.get_label().endswith("(off scale)") == off_scale


# The cone has its apex at the origin and keeps every node at an elevation of
# asin(|sin(angle)|): 30 degrees for -30 and 150.
@pytest.mark.parametrize("angle", [-30.0, 150.0])
def test_glide_slope_cone_and_its_edge(angle):
    panels = panels_of(landing_with(environment=tarvo.Environment(glide_slope_angle_deg=angle)))
    edge = line(panels["altitude"], "glide slope (30° elevation)")
    distance, height = edge.get_xdata(), edge.get_ydata()
    assert distance[0] == 0.0 and height[0] == 0.0
    assert height[-1] / distance[-1] == pytest.approx(math.tan(math.radians(30.0)))
    assert sum(each.get_label().startswith("glide-slope cone") for each in panels["path"].collections) == 1


def test_failed_landing_and_missing_matplotlib(landing, monkeypatch):
    failed = tarvo.plan(tarvo.Config(solver=tarvo.Solver(n=10, time_of_flight=0.5)))
    with pytest.raises(ValueError, match="cannot plot a failed landing: solver status"):
        failed.plot()
    for name in ("matplotlib", "matplotlib.figure", "matplotlib.backends.backend_agg"):
        monkeypatch.setitem(sys.modules, name, None)
    with pytest.raises(ImportError, match=re.escape("pip install tarvo[plot]")):
        landing.plot()


def test_headless_without_pyplot():
    run = run_python(f"""
        import io, sys, tarvo
        landing = tarvo.plan(tarvo.Config(solver=tarvo.Solver(n=10, time_of_flight={SMALL_TOF})))
        landing.plot().savefig(io.BytesIO(), format="png")
        print("matplotlib.pyplot" in sys.modules)
    """)
    assert run.returncode == 0, run.stderr
    assert run.stdout == "False\n"
