// An independent flight of a landing, for the tests of the continuous method: the thrust
// acceleration commanded linear between the nodes, position and velocity integrated exactly
// (cubic and quadratic on each interval) from the initial state, the log-mass integrated by
// RK4 from the wet mass with d(ln m)/dt = -alpha |u(t)|, every quantity sampled densely.
// Reports the worst excess over each limit, relative to the limit.
#pragma once

#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

#include "tarvo_core/config.hpp"
#include "tarvo_core/solve.hpp"

namespace flight_check {

using tarvo_core::config::Config;
using tarvo_core::config::Vec3;

// The worst excess over each limit, relative to it (0 or less: held everywhere).
struct Excess {
    double above_max_thrust = -INFINITY;
    double below_min_thrust = -INFINITY;
    double over_speed = -INFINITY;
    double below_glide_slope = -INFINITY;  // metres below the cone (or ground), per metre of range
    double past_pointing = -INFINITY;      // cosine short of the limit
    double touchdown = 0.0;                // metres and m/s from the target, per metre flown
    double relaxation = 0.0;               // (sigma - |u|) m over the maximum thrust
    double real_final_mass = 0.0;          // of the flight, kg
    std::vector<double> interval_most;     // the largest thrust flown on each interval, N
    std::vector<double> interval_least;    // the least thrust flown on each interval, N
};

inline double dot(const Vec3& a, const Vec3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
inline double norm(const Vec3& v) { return std::sqrt(dot(v, v)); }

inline Vec3 lerp(const Vec3& a, const Vec3& b, double s) {
    return {a[0] + (b[0] - a[0]) * s, a[1] + (b[1] - a[1]) * s, a[2] + (b[2] - a[2]) * s};
}

// Flies the trajectory with `samples` points per interval.
inline Excess fly(const Config& config, const tarvo_core::solve::Trajectory& t,
                  int samples = 64) {
    const auto& craft = config.spacecraft;
    const auto& env = config.environment;
    const std::size_t n = t.u_values.size();
    const double dt = t.time_of_flight / static_cast<double>(n);
    const double alpha = craft.fuel_consumption;
    const double max_thrust = craft.real_max_thrust * craft.max_thrust_pct;
    const double min_thrust = craft.real_max_thrust * craft.min_thrust_pct;
    const double sine = std::fabs(std::sin(env.glide_slope_angle_deg * M_PI / 180.0));
    const double g = norm(env.gravity);
    const Vec3 up{-env.gravity[0] / g, -env.gravity[1] / g, -env.gravity[2] / g};
    const double cosine = env.max_angle_deg < 90.0 ? std::cos(env.max_angle_deg * M_PI / 180.0)
                                                   : -INFINITY;
    Excess excess;
    Vec3 r = craft.initial_position;
    Vec3 v = craft.initial_velocity;
    double log_mass = std::log(craft.wet_mass);
    const double range = std::fmax(norm(r), 1.0);
    const auto check = [&](const Vec3& position, const Vec3& velocity, const Vec3& u, double z) {
        const double thrust = std::exp(z) * norm(u);
        if (!excess.interval_most.empty()) {
            excess.interval_most.back() = std::fmax(excess.interval_most.back(), thrust);
            excess.interval_least.back() = std::fmin(excess.interval_least.back(), thrust);
        }
        excess.above_max_thrust = std::fmax(excess.above_max_thrust, thrust / max_thrust - 1.0);
        if (min_thrust > 0.0) {
            excess.below_min_thrust = std::fmax(excess.below_min_thrust, 1.0 - thrust / min_thrust);
        }
        if (std::isfinite(craft.max_velocity)) {
            excess.over_speed = std::fmax(excess.over_speed, norm(velocity) / craft.max_velocity - 1.0);
        }
        excess.below_glide_slope = std::fmax(
            excess.below_glide_slope, (sine * norm(position) - position[2]) / range);
        if (std::isfinite(cosine) && norm(u) > 0.0) {
            excess.past_pointing = std::fmax(excess.past_pointing, cosine - dot(up, u) / norm(u));
        }
    };
    for (std::size_t k = 0; k + 1 < n; ++k) {
        const Vec3& u0 = t.u_values[k];
        const Vec3& u1 = t.u_values[k + 1];
        const auto u_at = [&](double s) { return lerp(u0, u1, s); };
        const auto rate = [&](double s) { return -alpha * norm(u_at(s)) * dt; };  // d(ln m)/ds
        const double h = 1.0 / samples;
        excess.interval_most.push_back(-INFINITY);
        excess.interval_least.push_back(INFINITY);
        for (int i = 0; i <= samples; ++i) {
            const double s = i * h;
            const double tau = s * dt;
            Vec3 position{}, velocity{};
            for (std::size_t a = 0; a < 3; ++a) {
                // a(tau) = g + u0 + (u1 - u0) tau / dt
                const double a0 = env.gravity[a] + u0[a];
                const double jerk = (u1[a] - u0[a]) / dt;
                velocity[a] = v[a] + a0 * tau + jerk * tau * tau / 2.0;
                position[a] = r[a] + v[a] * tau + a0 * tau * tau / 2.0 + jerk * tau * tau * tau / 6.0;
            }
            check(position, velocity, u_at(s), log_mass);
            if (i == samples) {
                r = position;
                v = velocity;
                break;
            }
            const double k1 = rate(s), k2 = rate(s + h / 2), k4 = rate(s + h);
            log_mass += h / 6.0 * (k1 + 4.0 * k2 + k4);
        }
    }
    if (n == 1) {
        check(r, v, t.u_values[0], log_mass);
    }
    const double flown = std::fmax(norm(craft.initial_position), 1.0);
    Vec3 miss{}, speed_miss{};
    for (std::size_t a = 0; a < 3; ++a) {
        miss[a] = r[a] - craft.target_position[a];
        speed_miss[a] = v[a] - craft.target_velocity[a];
    }
    excess.touchdown = (norm(miss) + norm(speed_miss)) / flown;
    for (std::size_t k = 0; k < n; ++k) {
        excess.relaxation = std::fmax(
            excess.relaxation,
            (t.s_values[k] - norm(t.u_values[k])) * std::exp(t.z_values[k]) / max_thrust);
    }
    excess.real_final_mass = std::exp(log_mass);
    return excess;
}

}  // namespace flight_check
