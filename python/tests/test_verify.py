"""`Landing.verify`: planted faults are caught, real solutions pass, between-node dips show."""

import math
import pickle
import warnings

import numpy as np
import pytest

import tarvo
from tarvo.landing.extremes import MAX_STEPS, bracketed_roots, cubic_roots
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
    landing = tarvo.plan(config(n=100), method="nodes")
    assert landing.ok and landing.verify().ok, landing.verify()
    return landing


@pytest.fixture(scope="module")
def dipping():
    """Default vehicle, 60 m/s limit, n = 50, 50 s: the nodes hold 4800 N but the thrust
    between nodes 6 and 7 falls to about 4754 N, and the speed passes 60 m/s."""
    return tarvo.plan(config(n=50, tof=50.0, max_velocity=60.0), method="nodes")


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
     {"dry mass", "final mass"}, None),
    # The booked final mass above the real one, or too far below it.
    (lambda L: altered(L, z_values=shifted(L.z_values, -1, 1e-5)), {"final mass"}, None),
    (lambda L: altered(L, z_values=shifted(L.z_values, -1, -1e-3)), {"final mass"}, None),
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
    landing = tarvo.plan(config(n=20, tof=5.0), method="nodes")
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
    landing = tarvo.plan(REAL[name], method="nodes")
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


def synthetic(u, dt, *, fuel_consumption=5e-4, glide=0.0, max_angle=90.0,
              position=(0.0, 0.0, 100.0), velocity=(0.0, 0.0, 0.0), nodes=None):
    """A landing with the commanded thrust accelerations ``u`` (one row per node), nodes
    ``dt`` apart, flown from ``position`` and ``velocity`` on Mars; the node positions and
    velocities are ``nodes``, or zero."""
    u = np.asarray(u, dtype=float)
    n = len(u)
    craft = tarvo.Spacecraft(fuel_consumption=fuel_consumption, initial_position=list(position),
                             initial_velocity=list(velocity))
    environment = tarvo.Environment(glide_slope_angle_deg=glide, max_angle_deg=max_angle)
    zeros = np.zeros(n)
    return tarvo.Landing(
        tarvo.Config(craft, environment, tarvo.Solver(n=n, time_of_flight=n * dt)),
        ok=True, method="nodes", status="Solved", message=None, time_of_flight=n * dt,
        objective=0.0, final_mass=1.0, trials=(), iterations=0, solve_seconds=0.0,
        miss_distance=0.0, positions=np.zeros((n, 3)) if nodes is None else nodes[0],
        velocities=np.zeros((n, 3)) if nodes is None else nodes[1],
        u_values=u, thrusts=zeros, normalized_thrusts=zeros, z_values=zeros,
        s_values=np.linalg.norm(u, axis=1), time_points=np.arange(n) * dt)


FINE = 200_001  # points per interval of the independent flights below


def fine_flight(landing):
    """Time, position, velocity, real log-mass and u on a fine grid of every interval, by
    cumulative trapezoids of the linear hold (exact for r and v up to rounding)."""
    config = landing.config
    craft, g = config.spacecraft, np.array(config.environment.gravity)
    u, dt = landing.u_values, landing.time_of_flight / len(landing.u_values)
    s = np.linspace(0.0, 1.0, FINE)[:, None]
    r, v = np.array(craft.initial_position), np.array(craft.initial_velocity)
    z = math.log(craft.wet_mass)
    pieces = []
    for k in range(len(u) - 1):
        uk = u[k] + s * (u[k + 1] - u[k])
        accel = uk + g
        vk = v + np.vstack((np.zeros(3), np.cumsum((accel[1:] + accel[:-1]) / 2, axis=0)
                            * (dt / (FINE - 1))))
        rk = r + np.vstack((np.zeros(3), np.cumsum((vk[1:] + vk[:-1]) / 2, axis=0)
                            * (dt / (FINE - 1))))
        size = np.linalg.norm(uk, axis=1)
        zk = z - craft.fuel_consumption * np.concatenate(
            ([0.0], np.cumsum((size[1:] + size[:-1]) / 2) * (dt / (FINE - 1))))
        pieces.append((rk, vk, zk, uk))
        r, v, z = rk[-1], vk[-1], zk[-1]
    return [np.concatenate(part) for part in zip(*pieces)]


@pytest.mark.parametrize("u_next", [
    [2.0, -1.0, 9.0],      # smooth |u| on the interval
    [-1.3, 1e-3, 0.0],     # u passes next to zero: |u| bends sharply between samples
])
def test_flown_mass_matches_a_fine_integration_of_the_real_mass_flow(u_next):
    landing = synthetic([[1.0, 0.0, 0.0], u_next, [0.5, 0.5, 0.5]], dt=2.0)
    path = _FlownPath(_Flight(landing))
    z = fine_flight(landing)[2]
    expected = z[[0, FINE - 1, -1]]
    # 1e-9 of the mass: three orders inside the checks' 1e-6.
    np.testing.assert_allclose(path.node_log_mass, expected, rtol=0, atol=1e-9)


# One interval each whose extreme lies between its nodes, off any fixed sample: u at the
# two nodes, dt, fuel consumption, initial state and limits.
UP = [0.0, 0.0, 18.71]  # 15 m/s^2 up against Mars gravity
BETWEEN_NODES = {
    # |u| dips from 5 to about 3.1 and the mass falls 2.4 % per interval, which moves the
    # least thrust off the least |u|.
    "minimum thrust": ([[4.0, 0.0, 3.0], [-4.0, 0.5, 3.2]], 3.0, 2e-3, {}),
    # The mass falls faster than |u| grows: the thrust peaks early in the first interval.
    "maximum thrust": ([[0.0, 0.0, 8.0], [0.0, 0.0, 20.0]], 10.0, 1e-2, {}),
    # Falling faster under gravity until the thrust turns it round.
    "speed limit": ([[0.0, 0.0, 1.0], [-6.0, 0.0, 12.0]], 3.0, 5e-4,
                    {"velocity": (8.0, 0.0, -3.0)}),
    # Coming down at 20 m/s from 30 m, braking at 15 m/s^2: lowest after 1.33 s.
    "glide slope": ([UP, UP], 3.0, 5e-4,
                    {"velocity": (-5.0, 2.0, -20.0), "position": (40.0, 0.0, 30.0)}),
    "glide slope cone": ([UP, UP], 3.0, 5e-4,
                         {"velocity": (-5.0, 2.0, -20.0), "position": (40.0, 0.0, 30.0),
                          "glide": 20.0}),
    # Swinging through the downward direction: the widest tilt is between the nodes.
    "thrust pointing": ([[1.0, 0.3, -0.1], [-1.5, 0.2, -0.3]], 3.0, 5e-4,
                        {"max_angle": 10.0}),
}


@pytest.mark.parametrize("case", BETWEEN_NODES)
def test_extremes_between_nodes_are_exact(case):
    u, dt, alpha, extra = BETWEEN_NODES[case]
    landing = synthetic(u, dt, fuel_consumption=alpha, **extra)
    r, v, z, u = fine_flight(landing)
    at_nodes = [0, FINE - 1]
    landing = synthetic(landing.u_values, dt, fuel_consumption=alpha, nodes=(r[at_nodes], v[at_nodes]),
                        **extra)
    sine = math.sin(math.radians(landing.config.environment.glide_slope_angle_deg))
    thrust = np.exp(z) * np.linalg.norm(u, axis=1)
    name, fine, pick = {
        "minimum thrust": ("minimum thrust", thrust, np.argmin),
        "maximum thrust": ("maximum thrust", thrust, np.argmax),
        "speed limit": ("speed limit", np.linalg.norm(v, axis=1), np.argmax),
        "glide slope": ("glide slope", -r[:, 2], np.argmax),
        "glide slope cone": ("glide slope", sine * np.linalg.norm(r, axis=1) - r[:, 2], np.argmax),
        "thrust pointing": ("thrust pointing",
                            np.degrees(np.arccos(u[:, 2] / np.linalg.norm(u, axis=1))), np.argmax),
    }[case]
    where = pick(fine)
    assert 0 < where < FINE - 1  # between the nodes
    check = landing.verify()[name]
    assert check.worst == pytest.approx(fine[where], rel=1e-9)
    assert "between nodes 0 and 1" in check.detail


def test_closest_landing_is_held_to_the_point_it_landed_on():
    far = tarvo.Config(tarvo.Spacecraft(fuel=300.0, initial_position=[10000.0, 0.0, 2400.0]),
                       solver=tarvo.Solver(n=15, time_of_flight=60.0))
    landing = tarvo.plan(far, method="nodes", unreachable="closest")
    verification = landing.verify()
    assert landing.miss_distance > 4000.0
    assert failed_names(verification) <= {"minimum thrust"}  # a dip between nodes
    assert "against the point it landed on" in verification["touchdown position"].detail
    assert f"a miss of {landing.miss_distance:.6g} m" in verification["target miss"].detail
    # A wrong miss is caught, and so is the same landing claiming to reach the target.
    wrong = altered(landing, miss_distance=landing.miss_distance + 1.0).verify()
    assert failed_names(wrong) - failed_names(verification) == {"target miss"}
    assert wrong["target miss"].worst == pytest.approx(1.0)
    reached = altered(landing, miss_distance=0.0).verify()
    assert failed_names(reached) - failed_names(verification) == {"touchdown position"}
    assert "target miss" not in {check.name for check in reached.checks}


def test_report_and_value_semantics(clean, dipping):
    dip = dipping.verify()
    text = str(dip)
    assert text.startswith("Verification FAILED: 2 of 11 checks (minimum thrust, speed limit)")
    assert all(check.name in text for check in dip.checks)
    assert text.count("FAIL") == 3 and "4754." in text
    assert repr(dip) == ("Verification(ok=False, failed=('minimum thrust', 'speed limit'), "
                         "checks=11)")
    assert str(clean.verify()).startswith("Verification passed: all 11 checks")
    assert pickle.loads(pickle.dumps(dip)) == dip
    with pytest.raises(AttributeError):
        dip.checks = ()
    with pytest.raises(KeyError):
        dip["no such check"]


@pytest.mark.parametrize("roots", [
    (0.3, 0.7, 2.0), (0.25, 0.25 + 1e-9, -1.0), (1.0, 0.5, 3.0), (0.0, -0.5, 0.9),
    (0.4, 5.0, 9.0),
], ids=["two inside", "nearly double", "at the end", "at the start", "one inside"])
def test_cubic_roots_in_the_interval(roots):
    coefficients = np.polynomial.polynomial.polyfromroots(roots)
    found = cubic_roots(*(np.array([c]) for c in coefficients))[0]
    found = np.unique(found[~np.isnan(found)])  # a root on a piece's end comes twice
    expected = sorted(root for root in roots if 0.0 <= root <= 1.0)
    if np.ptp(roots[:2]) < 1e-6:  # a near-double root: one of the two suffices
        expected, found = expected[:1], found[:1]
    np.testing.assert_allclose(found, expected, atol=1e-9)


@pytest.mark.parametrize("noise", [0.0, 1e-16, 1e-13])
def test_a_root_is_found_where_rounding_hides_the_last_digits(noise):
    """A shallow root whose values carry noise above slope * tolerance and never vanish:
    the search stops once its bracket closes, on the root, long before its step limit."""
    root, slope = np.array([0.5154869972569269, 0.25]), 1e-4
    calls = []

    def function_at(index):
        def function(x):
            calls.append(x)
            away = x - root[index]
            jitter = noise * (1.5 + np.sin(1e15 * x))  # never zero, with the sign of away
            return slope * away + np.copysign(jitter, away), np.full_like(x, slope)
        return function

    found = bracketed_roots(function_at, np.array([True, True]), np.zeros(2), np.ones(2))
    np.testing.assert_allclose(found, root, atol=1e-13)
    assert len(calls) < MAX_STEPS // 2
