// The real mass at node k lies between two sums over the intervals before it: the real burn
// of an interval, alpha times the integral of |u(t)|, is at most a trapezoid rule of |u(t)|
// (|u| is convex along a segment) and at least the trapezoid of a_j = d . u_j (d . u(t) is
// linear and below |u(t)|). Within an interval, at s = (t - t_k) / dt in [0, 1],
//   m(s) <= m_k^max exp(-alpha dt (s a_0 + s^2/2 (a_1 - a_0))),  |u(s)| <= p_0 + s (p_1 - p_0),
//   m(s) >= m_k^min exp(-alpha dt (s p_0 + s^2/2 (p_1 - p_0))),  |u(s)| >= a_0 + s (a_1 - a_0),
// with p_j = |u_j|. Each product has the form exp(-b s - c s^2) (P + Q s), whose extremes
// over [0, 1] lie at the ends or where its logarithm's derivative vanishes, a quadratic in s.
#include "flight_bounds.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace tarvo_core::plan {
namespace {

constexpr int kBurnSteps = 16;

double dot(const config::Vec3& a, const config::Vec3& b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

double norm(const config::Vec3& v) { return std::sqrt(dot(v, v)); }

// Sets out to v / |v|; false when |v| is not positive and finite.
bool unit(const config::Vec3& v, config::Vec3& out) {
    const double length = norm(v);
    if (!(length > 0.0 && std::isfinite(length))) {
        return false;
    }
    out = {v[0] / length, v[1] / length, v[2] / length};
    return true;
}

struct Extremes {
    double least;
    double most;
};

// The least and the largest value over s in [0, 1] of exp(-b s - c s^2) (p + q s).
Extremes extremes_over_interval(double b, double c, double p, double q) {
    const auto value = [&](double s) { return std::exp(-b * s - c * s * s) * (p + q * s); };
    Extremes found{std::fmin(value(0.0), value(1.0)), std::fmax(value(0.0), value(1.0))};
    const auto consider = [&](double s) {
        if (s > 0.0 && s < 1.0) {
            found.least = std::fmin(found.least, value(s));
            found.most = std::fmax(found.most, value(s));
        }
    };
    // Stationary points: 2cq s^2 + (bq + 2cp) s + (bp - q) = 0, its roots in the form that
    // loses no digits: h / qa and qc / h.
    const double qa = 2.0 * c * q;
    const double qb = b * q + 2.0 * c * p;
    const double qc = b * p - q;
    const double discriminant = qb * qb - 4.0 * qa * qc;
    if (discriminant >= 0.0) {
        const double h = -0.5 * (qb + std::copysign(std::sqrt(discriminant), qb));
        if (qa != 0.0) {
            consider(h / qa);
        }
        if (h != 0.0) {
            consider(qc / h);
        }
    }
    return found;
}

}  // namespace

std::vector<config::Vec3> bisector_directions(const solve::Trajectory& trajectory,
                                              const config::Vec3& fallback) {
    const std::vector<config::Vec3>& u = trajectory.u_values;
    std::vector<config::Vec3> directions;
    for (std::size_t k = 0; k + 1 < u.size(); ++k) {
        config::Vec3 first{}, second{}, bisector{};
        const bool has_first = unit(u[k], first);
        const bool has_second = unit(u[k + 1], second);
        if (has_first && has_second &&
            unit({first[0] + second[0], first[1] + second[1], first[2] + second[2]}, bisector)) {
            directions.push_back(bisector);
        } else if (has_first || has_second) {
            directions.push_back(has_first ? first : second);
        } else {
            directions.push_back(fallback);
        }
    }
    return directions;
}

FlightBounds flight_bounds(const config::Config& config, const solve::Trajectory& trajectory,
                           const std::vector<config::Vec3>& directions) {
    const std::vector<config::Vec3>& u = trajectory.u_values;
    const std::size_t n = u.size();
    const double dt = trajectory.time_of_flight / static_cast<double>(n);
    const double burn = config.spacecraft.fuel_consumption * dt;  // log-mass per unit of |u| dt
    FlightBounds bounds;
    for (std::size_t k = 0; k < n; ++k) {
        const double mass = std::exp(trajectory.z_values[k]);
        bounds.booked_thrust.push_back(trajectory.s_values[k] * mass);
        bounds.relaxation_gap =
            std::fmax(bounds.relaxation_gap, (trajectory.s_values[k] - norm(u[k])) * mass);
    }
    const std::vector<double> least_log_mass = flown_log_mass(config, trajectory);
    double most_log_mass = least_log_mass[0];
    for (std::size_t k = 0; k + 1 < n; ++k) {
        const double a0 = dot(directions[k], u[k]);
        const double a1 = dot(directions[k], u[k + 1]);
        const double p0 = norm(u[k]);
        const double p1 = norm(u[k + 1]);
        const Extremes above =
            extremes_over_interval(burn * a0, burn * (a1 - a0) / 2.0, p0, p1 - p0);
        const Extremes below =
            extremes_over_interval(burn * p0, burn * (p1 - p0) / 2.0, a0, a1 - a0);
        bounds.most_thrust.push_back(std::exp(most_log_mass) * above.most);
        bounds.least_thrust.push_back(std::exp(least_log_mass[k]) * below.least);
        most_log_mass -= burn * (a0 + a1) / 2.0;
    }
    return bounds;
}

std::vector<double> flown_log_mass(const config::Config& config,
                                   const solve::Trajectory& trajectory) {
    const std::vector<config::Vec3>& u = trajectory.u_values;
    const double dt = trajectory.time_of_flight / static_cast<double>(u.size());
    const double burn = config.spacecraft.fuel_consumption * dt / kBurnSteps;
    std::vector<double> log_mass{std::log(config.spacecraft.wet_mass)};
    for (std::size_t k = 0; k + 1 < u.size(); ++k) {
        double previous = norm(u[k]);
        double sum = 0.0;
        for (int i = 1; i <= kBurnSteps; ++i) {
            const double s = static_cast<double>(i) / kBurnSteps;
            const double magnitude = norm({u[k][0] + (u[k + 1][0] - u[k][0]) * s,
                                           u[k][1] + (u[k + 1][1] - u[k][1]) * s,
                                           u[k][2] + (u[k + 1][2] - u[k][2]) * s});
            sum += (previous + magnitude) / 2.0;
            previous = magnitude;
        }
        log_mass.push_back(log_mass.back() - burn * sum);
    }
    return log_mass;
}

FlightBounds tighter(FlightBounds a, const FlightBounds& b) {
    for (std::size_t k = 0; k < a.most_thrust.size(); ++k) {
        a.most_thrust[k] = std::fmin(a.most_thrust[k], b.most_thrust[k]);
        a.least_thrust[k] = std::fmax(a.least_thrust[k], b.least_thrust[k]);
    }
    return a;
}

}  // namespace tarvo_core::plan
