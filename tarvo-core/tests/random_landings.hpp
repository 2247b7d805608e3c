// Realistic landings from a seeded generator, for the tests of the continuous method: the
// default vehicle starting within 2.5 km of the target at up to 80 m/s on each axis, on 20 to
// 150 nodes, with a searched or a fixed time of flight, and some with a glide slope, a speed
// limit or a pointing limit.
#pragma once

#include <cmath>
#include <cstdint>
#include <random>
#include <string>

#include "tarvo_core/config.hpp"

namespace random_landings {

struct Landing {
    tarvo_core::config::Config config;
    std::string name;  // what sets it apart, for failure messages
};

// Landing `index` of the sequence of `seed`, on `min_n` to `max_n` nodes. Odd indices fly a
// fixed time of flight from 40 to 65 s (the searched ones land in 20 to 120 s).
inline Landing landing(std::uint32_t seed, int index, int min_n = 20, int max_n = 150) {
    std::mt19937 rng(seed * 7919u + static_cast<std::uint32_t>(index));
    const auto uniform = [&](double lo, double hi) {
        return std::uniform_real_distribution<double>(lo, hi)(rng);
    };
    Landing out;
    auto& config = out.config;
    auto& craft = config.spacecraft;
    const double altitude = uniform(600.0, 2400.0);
    const double reach = std::sqrt(2500.0 * 2500.0 - altitude * altitude);
    const double bearing = uniform(0.0, 2.0 * M_PI);
    const double across = uniform(0.0, std::fmin(reach, 1.6 * altitude));
    craft.initial_position = {across * std::cos(bearing), across * std::sin(bearing), altitude};
    craft.initial_velocity = {uniform(-80.0, 80.0), uniform(-80.0, 80.0), uniform(-80.0, 20.0)};
    config.solver.n = static_cast<std::uint64_t>(std::uniform_int_distribution<int>(min_n, max_n)(rng));
    out.name = "landing " + std::to_string(index) + " n=" + std::to_string(config.solver.n);
    if (index % 2 == 1) {
        config.solver.time_of_flight = uniform(40.0, 65.0);
        out.name += " tof=" + std::to_string(*config.solver.time_of_flight);
    }
    if (index % 3 == 0) {
        const double elevation = std::atan2(altitude, across) * 180.0 / M_PI;
        config.environment.glide_slope_angle_deg = uniform(2.0, std::fmin(20.0, elevation - 8.0));
        out.name += " glide";
    }
    if (index % 4 == 1) {
        const auto& v = craft.initial_velocity;
        const double speed = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
        craft.max_velocity = std::fmax(speed * uniform(1.02, 1.3), 60.0);
        out.name += " speed";
    }
    if (index % 5 == 2) {
        config.environment.max_angle_deg = uniform(30.0, 70.0);
        out.name += " pointing";
    }
    return out;
}

}  // namespace random_landings
