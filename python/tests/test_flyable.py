"""Flown landings: every landing the default method calls ok holds every limit at every
instant, checked by a flight integrated here, independently of `Landing.verify`: the command
linear between nodes, as the vehicle's guidance holds it, fuel burnt at the real rate
dm/dt = -alpha*m*|u|, classic Runge-Kutta with every limit read at every step."""

import math

import numpy as np

import tarvo

RELATIVE = 1e-6  # how far a flown value may pass its limit, relative to the limit's scale
STEPS = 16  # Runge-Kutta steps per interval between nodes, each a sample of the limits
# The booked final mass may lie this far below the real one (kg, or share of the fuel used).
SHORTFALL_KG, SHORTFALL_OF_FUEL = 0.05, 0.002


def random_landings(count, seed):
    """Realistic landings on Mars: starts within 2.5 km of the target, velocities up to 80 m/s
    a component, 20 to 150 nodes, a third searched; some with a glide slope, a speed limit or
    a pointing limit."""
    rng = np.random.default_rng(seed)
    configs = []
    for index in range(count):
        distance, elevation = rng.uniform(600.0, 2500.0), rng.uniform(25.0, 80.0)
        azimuth, lift = rng.uniform(0.0, 2.0 * math.pi), math.radians(elevation)
        position = distance * np.array([math.cos(lift) * math.cos(azimuth),
                                        math.cos(lift) * math.sin(azimuth), math.sin(lift)])
        velocity = rng.uniform(-80.0, 80.0, 3)
        craft = tarvo.Spacecraft(initial_position=position.tolist(), initial_velocity=velocity.tolist())
        environment = tarvo.Environment()
        if index % 4 == 1:  # a glide slope that the start keeps
            environment.glide_slope_angle_deg = rng.uniform(5.0, elevation - 10.0)
        if index % 4 == 2:
            craft.max_velocity = float(np.linalg.norm(velocity) * rng.uniform(1.05, 1.6) + 10.0)
        if index % 6 == 3:
            environment.max_angle_deg = rng.uniform(35.0, 60.0)
        searched = index % 3 == 0
        solver = tarvo.Solver(n=int(rng.integers(20, 41 if searched else 151)),
                              time_of_flight=None if searched else float(rng.uniform(35.0, 90.0)))
        configs.append(tarvo.Config(craft, environment, solver))
    return configs


LANDINGS = random_landings(36, seed=20240613)


def fly(landing):
    """The flight of the landing's commanded thrust from its initial state: the state
    (r, v, m) and the command u at every Runge-Kutta step, nodes included."""
    craft, gravity = landing.config.spacecraft, np.array(landing.config.environment.gravity)
    u = np.asarray(landing.u_values)
    dt = landing.time_of_flight / len(u) / STEPS

    def rate(state, command):
        return np.concatenate((state[3:6], command + gravity,
                               [-craft.fuel_consumption * state[6] * math.hypot(*command)]))

    state = np.array([*craft.initial_position, *craft.initial_velocity, craft.wet_mass])
    states, commands = [state], [u[0]]
    for k in range(len(u) - 1):
        for step in range(STEPS):
            start, middle, end = (u[k] + (u[k + 1] - u[k]) * ((step + part) / STEPS)
                                  for part in (0.0, 0.5, 1.0))
            k1 = rate(state, start)
            k2 = rate(state + (dt / 2.0) * k1, middle)
            k3 = rate(state + (dt / 2.0) * k2, middle)
            state = state + (dt / 6.0) * (k1 + 2.0 * k2 + 2.0 * k3 + rate(state + dt * k3, end))
            states.append(state)
            commands.append(end)
    return np.array(states), np.array(commands)


def flight_problems(landing):
    """Every limit the flown landing passes, in words; empty when it holds them all."""
    craft, environment = landing.config.spacecraft, landing.config.environment
    states, u = fly(landing)
    r, v, m = states[:, :3], states[:, 3:6], states[:, 6]
    thrust, speed = m * np.linalg.norm(u, axis=1), np.linalg.norm(v, axis=1)
    length = max(np.linalg.norm(craft.initial_position), speed.max() * landing.time_of_flight)
    low, high = (craft.real_max_thrust * share for share in (craft.min_thrust_pct, craft.max_thrust_pct))
    sine = abs(math.sin(math.radians(environment.glide_slope_angle_deg)))
    shortfall = m[-1] - landing.final_mass
    problems = {
        "thrust below the minimum": thrust.min() < low * (1 - RELATIVE),
        "thrust above the maximum": thrust.max() > high * (1 + RELATIVE),
        "speed over the limit": speed.max() > craft.max_velocity * (1 + RELATIVE),
        "below the glide slope or the ground": (sine * np.linalg.norm(r, axis=1) - r[:, 2]).max()
                                               > RELATIVE * length,
        "touchdown off the target": np.linalg.norm(r[-1] - craft.target_position) > RELATIVE * length,
        "touchdown too fast": np.linalg.norm(v[-1] - craft.target_velocity) > RELATIVE * speed.max(),
        "final mass above the real one": shortfall < -RELATIVE * m[-1],
        "final mass too far below the real one":
            shortfall > max(SHORTFALL_KG, SHORTFALL_OF_FUEL * (craft.wet_mass - m[-1])),
        "below the dry mass": m[-1] < (craft.wet_mass - craft.fuel) * (1 - RELATIVE),
    }
    if 0.0 <= environment.max_angle_deg < 90.0:
        up = -np.asarray(environment.gravity) / np.linalg.norm(environment.gravity)
        cosine = (u @ up) / np.linalg.norm(u, axis=1)
        problems["thrust pointing beyond its limit"] = (
            cosine.min() < math.cos(math.radians(environment.max_angle_deg)) - RELATIVE)
    return [problem for problem, found in problems.items() if found]


def test_every_ok_landing_of_the_default_method_flies_within_its_limits():
    planned = {method: tarvo.plan_many(LANDINGS, method=method) for method in ("continuous", "nodes")}
    found = {index: flight_problems(landing)
             for index, landing in enumerate(planned["continuous"]) if landing.ok}
    assert found and not any(found.values()), {i: p for i, p in found.items() if p}
    # It lands where the nodes method does, and the generator's landings are realistic.
    landed = {method: sum(landing.ok for landing in landings) for method, landings in planned.items()}
    assert landed["nodes"] >= len(LANDINGS) // 2 and landed["continuous"] >= 0.85 * landed["nodes"], landed
    # The nodes method bounds the thrust at the nodes only: flown, some of its landings dip
    # below the minimum between them, which the flight must see.
    problems = [flight_problems(landing) for landing in planned["nodes"] if landing.ok]
    assert any("thrust below the minimum" in found for found in problems)
    # The fuel cost of the guarantee, against the nodes method at high accuracy at fixed times.
    fixed = [index for index, config in enumerate(LANDINGS) if config.solver.time_of_flight is not None]
    reference = tarvo.plan_many([LANDINGS[i] for i in fixed], method="nodes", accuracy="high")
    costs = [(planned["continuous"][i].fuel_used - nodes.fuel_used) / nodes.fuel_used
             for i, nodes in zip(fixed, reference) if nodes.ok and planned["continuous"][i].ok]
    assert costs and np.median(costs) <= 1e-4 and max(costs) <= 1e-2, sorted(costs)
