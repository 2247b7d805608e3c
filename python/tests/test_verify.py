"""`Landing.verify`: planted faults are caught, real solutions pass, between-node dips show."""

import math
import pickle
import warnings

import numpy as np
import pytest

import tarvo
from tarvo.landing.verify import _Flight, _FlownPath


def config(n=50, tof=60.0, gravity=(0.0, 0.0, -3.71), glide=0.0, max_velocity=1000.0,
           **craft):
    return tarvo.Config(
        spacecraft=tarvo.Spacecraft(max_velocity=max_velocity, **craft),
        environment=tarvo.Environment(gravity=list(gravity), glide_slope_angle_deg=glide),
        solver=tarvo.Solver(n=n, time_of_flight=tof),
    )


def altered(landing, new_config=None, **arrays):
    """The landing with some fields replaced, built through Landing's constructor."""
    values = dict(landing._values)
    values.update(arrays)
    return tarvo.Landing(new_config or landing.config, **values)


def with_craft(landing, **fields):
    changed = landing.config
    craft = changed.spacecraft
    for name, value in fields.items():
        setattr(craft, name, value)
    changed.spacecraft = craft
    return changed


@pytest.fixture(scope="module")
def clean():
    """A default-vehicle landing that passes every check (N = 100, 60 s)."""
    landing = tarvo.plan(config(n=100))
    assert landing.ok and landing.verify().ok, landing.verify()
    return landing


@pytest.fixture(scope="module")
def dipping():
    """Default vehicle, 60 m/s limit, n = 50, 50 s: the nodes hold 4800 N but the thrust
    between nodes 6 and 7 falls to about 4754 N, and the speed passes 60 m/s."""
    return tarvo.plan(config(n=50, tof=50.0, max_velocity=60.0))


def failed_names(verification):
    return {check.name for check in verification.failed}


def shifted(array, k, by):
    array = np.array(array)
    array[k] += by
    return array


def scaled(array, k, factor):
    array = np.array(array)
    array[k] *= factor
    return array


@pytest.mark.parametrize("plant, expected, worst", [
    (lambda L: altered(L, positions=shifted(L.positions, 40, [0.0, 1.0, 0.0])),
     {"dynamics: position"}, 1.0),
    (lambda L: altered(L, velocities=shifted(L.velocities, 40, [0.0, 0.0, 0.01])),
     {"dynamics: velocity"}, 0.01),
    (lambda L: altered(L, s_values=shifted(L.s_values, 30, 1e-2)),
     {"relaxation gap"}, 1e-2),
    (lambda L: altered(L, s_values=shifted(L.s_values, 30, -1e-2)),
     {"relaxation gap"}, -1e-2),
    (lambda L: altered(L, with_craft(L, target_position=[0.0, 0.5, 0.0])),
     {"touchdown position"}, 0.5),
    (lambda L: altered(L, with_craft(L, target_velocity=[0.02, 0.0, 0.0])),
     {"touchdown velocity"}, 0.02),
    (lambda L: altered(L, with_craft(L, max_velocity=60.0)), {"speed limit"}, None),
    (lambda L: altered(L, with_craft(L, min_thrust_pct=0.3)), {"minimum thrust"}, None),
    (lambda L: altered(L, z_values=shifted(L.z_values, -1, math.log(250.0) - L.z_values[-1])),
     {"dry mass"}, 250.0),
    # Less fuel on board than the flight burns.
    (lambda L: altered(L, with_craft(L, fuel=L.config.spacecraft.wet_mass - L.final_mass - 5.0)),
     {"dry mass"}, 1772.805),
])
def test_planted_fault_fails_its_check(clean, plant, expected, worst):
    verification = plant(clean).verify()
    assert not verification.ok
    assert failed_names(verification) == expected
    if worst is not None:
        (check,) = verification.failed
        assert check.worst == pytest.approx(worst, rel=1e-3)


def test_thrust_above_the_limit_is_caught(clean):
    # Thrust acceleration raised by 30 % on one node (sigma with it, so no gap).
    landing = altered(clean, u_values=scaled(clean.u_values, 1, 1.3),
                      s_values=scaled(clean.s_values, 1, 1.3))
    check = landing.verify()["maximum thrust"]
    assert not check.passed
    assert check.worst == pytest.approx(1.3 * clean.thrusts[1], rel=1e-3)
    assert "at node 1" in check.detail


def test_pointing_limit_is_checked_against_the_widest_tilt(clean):
    u = clean.u_values
    widest = np.degrees(np.arccos(u[:, 2] / np.linalg.norm(u, axis=1))).max()
    environment = clean.config.environment
    checks = {}
    for angle in (widest - 0.5, widest + 0.5):
        changed = clean.config
        environment.max_angle_deg = angle
        changed.environment = environment
        checks[angle] = altered(clean, changed).verify()["thrust pointing"]
    assert not checks[widest - 0.5].passed
    assert checks[widest - 0.5].worst == pytest.approx(widest, abs=1e-9)
    assert checks[widest + 0.5].passed
    assert "thrust pointing" not in {c.name for c in clean.verify().checks}  # 90 deg default


def test_non_finite_values_fail_quietly(clean):
    landing = altered(clean, positions=shifted(clean.positions, 10, [math.nan, 0.0, 0.0]),
                      u_values=shifted(clean.u_values, 20, [math.inf, 0.0, 0.0]))
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        verification = landing.verify()
    assert not verification.ok
    assert {"dynamics: position", "maximum thrust"} <= failed_names(verification)


def test_failed_landing_cannot_be_verified():
    landing = tarvo.plan(config(n=20, tof=5.0))
    assert not landing.ok
    with pytest.raises(ValueError, match="cannot verify a failed landing: solver status"):
        landing.verify()


REAL = {
    "tilted gravity": config(gravity=(0.5, -0.3, -3.6)),
    "glide slope": config(glide=30.0),
    "speed limit": config(max_velocity=75.0),
    "long flight": config(n=100, tof=100.0),
    "heavy gravity": config(tof=40.0, gravity=(0.0, 0.0, -9.81), real_max_thrust=60000.0),
    "search": tarvo.Config(solver=tarvo.Solver(n=30)),
}


@pytest.mark.parametrize("name", REAL)
def test_real_solutions_pass_but_for_dips_between_nodes(name):
    landing = tarvo.plan(REAL[name])
    verification = landing.verify()
    assert failed_names(verification) <= {"minimum thrust"}, verification
    if not verification.ok:
        assert "between nodes" in verification["minimum thrust"].detail


def test_min_thrust_dip_between_nodes_is_reported(dipping):
    landing = dipping
    verification = landing.verify()
    assert failed_names(verification) == {"minimum thrust", "speed limit"}
    dip = verification["minimum thrust"]
    assert 4750.0 < dip.worst < 4758.0 and "between nodes 6 and 7" in dip.detail
    assert landing.thrusts.min() >= 4800.0 - dip.tolerance
    # The speed between nodes by an independent, fine trapezoid integration of u + g.
    dt, g = landing.time_of_flight / 50, np.array([0.0, 0.0, -3.71])
    s = np.linspace(0.0, 1.0, 2001)[:, None]
    k = 13
    acceleration = landing.u_values[k] + s * (landing.u_values[k + 1] - landing.u_values[k]) + g
    steps = (acceleration[1:] + acceleration[:-1]) / 2 * (dt / 2000)
    speed = np.linalg.norm(landing.velocities[k] + np.cumsum(steps, axis=0), axis=1).max()
    assert verification["speed limit"].worst == pytest.approx(speed, rel=1e-6)


@pytest.mark.parametrize("u_next", [
    [2.0, -1.0, 9.0],      # smooth |u| on the interval
    [-1.3, 1e-3, 0.0],     # u passes next to zero: |u| has a kink off the sample grid
])
def test_flown_mass_matches_a_fine_integration_of_the_real_mass_flow(clean, u_next):
    u = np.zeros((3, 3))
    u[0], u[1], u[2] = [1.0, 0.0, 0.0], u_next, [0.5, 0.5, 0.5]
    landing = altered(clean.__class__.failed(clean.config, "x", "x"), ok=True, message=None,
                      time_of_flight=6.0, positions=np.zeros((3, 3)),
                      velocities=np.zeros((3, 3)), u_values=u, s_values=np.ones(3),
                      z_values=np.zeros(3), thrusts=np.zeros(3),
                      normalized_thrusts=np.zeros(3), time_points=[0.0, 2.0, 4.0])
    path = _FlownPath(_Flight(landing))
    s = np.linspace(0.0, 1.0, 200001)[:, None]
    burn = [np.trapezoid(np.linalg.norm(u[k] + s * (u[k + 1] - u[k]), axis=1), dx=2.0 / 200000)
            for k in range(2)]
    craft = clean.config.spacecraft
    expected = math.log(craft.wet_mass) - craft.fuel_consumption * np.cumsum([0.0, *burn])
    # 1e-9 of the mass: three orders inside the checks' 1e-6.
    np.testing.assert_allclose(path.node_log_mass, expected, rtol=0, atol=1e-9)


def test_report_and_value_semantics(clean, dipping):
    dip = dipping.verify()
    text = str(dip)
    assert text.startswith("Verification FAILED: 2 of 10 checks (minimum thrust, speed limit)")
    assert all(check.name in text for check in dip.checks)
    assert text.count("FAIL") == 3 and "4754." in text
    assert repr(dip) == ("Verification(ok=False, failed=('minimum thrust', 'speed limit'), "
                         "checks=10)")
    assert str(clean.verify()).startswith("Verification passed: all 10 checks")
    assert pickle.loads(pickle.dumps(dip)) == dip
    with pytest.raises(AttributeError):
        dip.checks = ()
    with pytest.raises(KeyError):
        dip["no such check"]
