"""`Landing.verify`: planted faults are caught, real solutions pass, between-node extremes are
found exactly, checked against a flight integrated here."""

import math
import pickle
import warnings

import numpy as np
import pytest

import tarvo
from tarvo.landing.verify import _Flight, _FlownPath


def config(n=50, tof=60.0, gravity=(0.0, 0.0, -3.71), glide=0.0, **craft):
    return tarvo.Config(tarvo.Spacecraft(**craft),
                        tarvo.Environment(gravity=list(gravity), glide_slope_angle_deg=glide),
                        tarvo.Solver(n=n, time_of_flight=tof))


def altered(landing, craft=(), environment=(), **values):
    """The landing with some values replaced and some fields of its vehicle or environment
    changed, built through Landing's constructor."""
    changed = landing.config
    for name, fields in (("spacecraft", dict(craft)), ("environment", dict(environment))):
        record = getattr(changed, name)
        for field, value in fields.items():
            setattr(record, field, value)
        setattr(changed, name, record)
    return tarvo.Landing(changed, **{**landing._values, **values})


def nudged(array, k, by):
    array = np.array(array)
    array[k] += by
    return array


def failed_names(verification):
    return {check.name for check in verification.failed}


@pytest.fixture(scope="module")
def clean():
    """A default-vehicle landing that passes every check (N = 100, 60 s)."""
    landing = tarvo.plan(config(n=100), method="nodes")
    assert landing.ok and landing.verify().ok, landing.verify()
    return landing


# A plant, the checks it fails and the worst value of the one it fails.
@pytest.mark.parametrize("plant, expected, worst", [
    (lambda L: altered(L, positions=nudged(L.positions, 40, [0.0, 1.0, 0.0])),
     {"dynamics: position"}, 1.0),
    (lambda L: altered(L, velocities=nudged(L.velocities, 40, [0.0, 0.0, 0.01])),
     {"dynamics: velocity"}, 0.01),
    (lambda L: altered(L, s_values=nudged(L.s_values, 30, 1e-2)), {"relaxation gap"}, 1e-2),
    (lambda L: altered(L, s_values=nudged(L.s_values, 30, -1e-2)), {"relaxation gap"}, -1e-2),
    (lambda L: altered(L, {"target_position": [0.0, 0.5, 0.0]}), {"touchdown position"}, 0.5),
    (lambda L: altered(L, {"target_velocity": [0.02, 0.0, 0.0]}), {"touchdown velocity"}, 0.02),
    (lambda L: altered(L, {"max_velocity": 60.0}), {"speed limit"}, None),
    (lambda L: altered(L, {"min_thrust_pct": 0.3}), {"minimum thrust"}, None),
    (lambda L: altered(L, z_values=nudged(L.z_values, -1, math.log(250.0) - L.z_values[-1])),
     {"dry mass", "final mass"}, None),
    # The booked final mass above the real one, or too far below it.
    (lambda L: altered(L, z_values=nudged(L.z_values, -1, 1e-5)), {"final mass"}, None),
    (lambda L: altered(L, z_values=nudged(L.z_values, -1, -1e-3)), {"final mass"}, None),
    # Less fuel on board than the flight burns.
    (lambda L: altered(L, {"fuel": L.config.spacecraft.wet_mass - L.final_mass - 5.0}),
     {"dry mass"}, 1772.805),
])
def test_planted_fault_fails_its_check(clean, plant, expected, worst):
    verification = plant(clean).verify()
    assert not verification.ok and failed_names(verification) == expected
    if worst is not None:
        (check,) = verification.failed
        assert check.worst == pytest.approx(worst, rel=1e-3)


def test_thrust_above_the_limit_is_caught_at_its_node(clean):
    # Thrust acceleration 30 % up on one node, sigma with it (so no gap).
    landing = altered(clean, u_values=nudged(clean.u_values, 1, 0.3 * clean.u_values[1]),
                      s_values=nudged(clean.s_values, 1, 0.3 * clean.s_values[1]))
    check = landing.verify()["maximum thrust"]
    assert not check.passed and "at node 1" in check.detail
    assert check.worst == pytest.approx(1.3 * clean.thrusts[1], rel=1e-3)


def test_pointing_limit_is_checked_against_the_widest_tilt(clean):
    u = clean.u_values
    widest = np.degrees(np.arccos(u[:, 2] / np.linalg.norm(u, axis=1))).max()
    below, above = (altered(clean, environment={"max_angle_deg": widest + by}).verify()["thrust pointing"]
                    for by in (-0.5, 0.5))
    assert not below.passed and below.worst == pytest.approx(widest, abs=1e-9) and above.passed
    assert "thrust pointing" not in {c.name for c in clean.verify().checks}  # 90 deg default


def test_non_finite_values_fail_quietly(clean):
    landing = altered(clean, positions=nudged(clean.positions, 10, [math.nan, 0.0, 0.0]),
                      u_values=nudged(clean.u_values, 20, [math.inf, 0.0, 0.0]))
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        verification = landing.verify()
    assert {"dynamics: position", "maximum thrust"} <= failed_names(verification)


@pytest.mark.parametrize("real", [
    config(gravity=(0.5, -0.3, -3.6)), config(glide=30.0), config(max_velocity=75.0),
    config(n=100, tof=100.0), config(tof=40.0, gravity=(0.0, 0.0, -9.81), real_max_thrust=60000.0),
    tarvo.Config(solver=tarvo.Solver(n=30)),
], ids=["tilted gravity", "glide slope", "speed limit", "long flight", "heavy gravity", "search"])
def test_real_landings_pass_but_for_dips_between_nodes(real):
    verification = tarvo.plan(real, method="nodes").verify()
    assert failed_names(verification) <= {"minimum thrust"}, verification
    if not verification.ok:
        assert "between nodes" in verification["minimum thrust"].detail


def test_a_dip_between_nodes_is_reported_and_the_report_is_a_value(clean):
    # With a 60 m/s limit at 50 s on 50 nodes, the nodes hold 4800 N but the thrust
    # between nodes 6 and 7 falls to about 4754 N, and the speed passes 60 m/s.
    landing = tarvo.plan(config(tof=50.0, max_velocity=60.0), method="nodes")
    verification = landing.verify()
    dip = verification["minimum thrust"]
    assert 4750.0 < dip.worst < 4758.0 and "between nodes 6 and 7" in dip.detail
    assert landing.thrusts.min() >= 4800.0 - dip.tolerance
    text = str(verification)
    assert text.startswith("Verification FAILED: 2 of 11 checks (minimum thrust, speed limit)")
    assert text.count("FAIL") == 3 and "4754." in text
    assert str(clean.verify()).startswith("Verification passed: all 11 checks")
    assert pickle.loads(pickle.dumps(verification)) == verification
    with pytest.raises(AttributeError):
        verification.checks = ()
    with pytest.raises(KeyError):
        verification["no such check"]


def test_closest_landing_is_held_to_the_point_it_landed_on():
    far = config(n=15, fuel=300.0, initial_position=[10000.0, 0.0, 2400.0])
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


def synthetic(u, dt, *, fuel_consumption=5e-4, glide=0.0, max_angle=90.0,
              position=(0.0, 0.0, 100.0), velocity=(0.0, 0.0, 0.0), nodes=None):
    """A landing on Mars with the commanded thrust accelerations ``u`` (one row per node),
    nodes ``dt`` apart, flown from ``position`` and ``velocity``; its node positions and
    velocities are the pair ``nodes``, or zero."""
    u = np.asarray(u, dtype=float)
    n, zeros = len(u), np.zeros(len(u))
    craft = tarvo.Spacecraft(fuel_consumption=fuel_consumption, initial_position=list(position),
                             initial_velocity=list(velocity))
    environment = tarvo.Environment(glide_slope_angle_deg=glide, max_angle_deg=max_angle)
    positions, velocities = (np.zeros((n, 3)),) * 2 if nodes is None else nodes
    return tarvo.Landing(
        tarvo.Config(craft, environment, tarvo.Solver(n=n, time_of_flight=n * dt)),
        ok=True, method="nodes", status="Solved", message=None, time_of_flight=n * dt,
        objective=0.0, final_mass=1.0, trials=(), iterations=0, solve_seconds=0.0,
        miss_distance=0.0, positions=positions, velocities=velocities, u_values=u, thrusts=zeros,
        normalized_thrusts=zeros, z_values=zeros, s_values=np.linalg.norm(u, axis=1),
        time_points=np.arange(n) * dt)


FINE = 200_001  # points per interval of the independent flights below


def fine_flight(landing):
    """Position, velocity, real log-mass and u on a fine grid of every interval, by cumulative
    trapezoids of the linear hold (exact for r and v up to rounding)."""
    craft, g = landing.config.spacecraft, np.array(landing.config.environment.gravity)
    u, dt = landing.u_values, landing.time_of_flight / len(landing.u_values)
    h, s = dt / (FINE - 1), np.linspace(0.0, 1.0, FINE)[:, None]

    def integral(rate, start):
        return start + np.concatenate(([0.0 * rate[0]], np.cumsum((rate[1:] + rate[:-1]) / 2, axis=0) * h))

    state = (np.array(craft.initial_position), np.array(craft.initial_velocity), math.log(craft.wet_mass))
    pieces = []
    for k in range(len(u) - 1):
        uk = u[k] + s * (u[k + 1] - u[k])
        vk = integral(uk + g, state[1])
        zk = integral(-craft.fuel_consumption * np.linalg.norm(uk, axis=1), state[2])
        pieces.append((integral(vk, state[0]), vk, zk, uk))
        state = (pieces[-1][0][-1], vk[-1], zk[-1])
    return [np.concatenate(part) for part in zip(*pieces)]


@pytest.mark.parametrize("u_next", [
    [2.0, -1.0, 9.0],      # smooth |u| on the interval
    [-1.3, 1e-3, 0.0],     # u passes next to zero: |u| bends sharply between samples
])
def test_flown_mass_matches_a_fine_integration_of_the_real_mass_flow(u_next):
    landing = synthetic([[1.0, 0.0, 0.0], u_next, [0.5, 0.5, 0.5]], dt=2.0)
    z = fine_flight(landing)[2]
    # 1e-9 of the mass: three orders inside the checks' 1e-6.
    np.testing.assert_allclose(_FlownPath(_Flight(landing)).node_log_mass, z[[0, FINE - 1, -1]],
                               rtol=0, atol=1e-9)


UP = [0.0, 0.0, 18.71]  # 15 m/s^2 up against Mars gravity
DOWN_AT_20 = {"velocity": (-5.0, 2.0, -20.0), "position": (40.0, 0.0, 30.0)}


# One interval each whose extreme lies between its nodes, off any fixed sample: the check,
# u at the two nodes, dt, fuel consumption, and the initial state and limits.
@pytest.mark.parametrize("check, u, dt, alpha, extra", [
    # |u| dips from 5 to about 3.1 and the mass falls 2.4 % per interval, which moves the
    # least thrust off the least |u|.
    ("minimum thrust", [[4.0, 0.0, 3.0], [-4.0, 0.5, 3.2]], 3.0, 2e-3, {}),
    # The mass falls faster than |u| grows: the thrust peaks early in the first interval.
    ("maximum thrust", [[0.0, 0.0, 8.0], [0.0, 0.0, 20.0]], 10.0, 1e-2, {}),
    # Falling faster under gravity until the thrust turns it round.
    ("speed limit", [[0.0, 0.0, 1.0], [-6.0, 0.0, 12.0]], 3.0, 5e-4, {"velocity": (8.0, 0.0, -3.0)}),
    # Coming down at 20 m/s from 30 m, braking at 15 m/s^2: lowest after 1.33 s.
    ("glide slope", [UP, UP], 3.0, 5e-4, DOWN_AT_20),
    ("glide slope", [UP, UP], 3.0, 5e-4, {**DOWN_AT_20, "glide": 20.0}),
    # Swinging through the downward direction: the widest tilt is between the nodes.
    ("thrust pointing", [[1.0, 0.3, -0.1], [-1.5, 0.2, -0.3]], 3.0, 5e-4, {"max_angle": 10.0}),
], ids=["minimum thrust", "maximum thrust", "speed limit", "ground", "glide slope cone",
        "thrust pointing"])
def test_extremes_between_nodes_are_exact(check, u, dt, alpha, extra):
    r, v, z, fine_u = fine_flight(synthetic(u, dt, fuel_consumption=alpha, **extra))
    landing = synthetic(u, dt, fuel_consumption=alpha, nodes=(r[[0, -1]], v[[0, -1]]), **extra)
    thrust, sine = np.exp(z) * np.linalg.norm(fine_u, axis=1), math.sin(math.radians(extra.get("glide", 0.0)))
    fine = {"minimum thrust": thrust, "maximum thrust": thrust, "speed limit": np.linalg.norm(v, axis=1),
            "glide slope": sine * np.linalg.norm(r, axis=1) - r[:, 2],  # depth below the cone
            "thrust pointing": np.degrees(np.arccos(fine_u[:, 2] / np.linalg.norm(fine_u, axis=1)))}[check]
    where = (np.argmin if check == "minimum thrust" else np.argmax)(fine)
    assert 0 < where < FINE - 1  # between the nodes
    reported = landing.verify()[check]
    assert reported.worst == pytest.approx(fine[where], rel=1e-9)
    assert "between nodes 0 and 1" in reported.detail
