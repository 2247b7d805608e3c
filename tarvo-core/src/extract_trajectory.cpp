// The trajectory read from the solver's primal vector through the shared variable layout.
#include "extract_trajectory.hpp"

#include <cmath>
#include <cstddef>

#include "tarvo_core/fault.hpp"
#include "variable_layout.hpp"

namespace tarvo_core::solve {
namespace {

void reserve_lists(Trajectory& trajectory, std::size_t n) {
    trajectory.positions.reserve(n);
    trajectory.velocities.reserve(n);
    trajectory.thrusts.reserve(n);
    trajectory.normalized_thrusts.reserve(n);
    trajectory.z_values.reserve(n);
    trajectory.u_values.reserve(n);
    trajectory.s_values.reserve(n);
    trajectory.time_points.reserve(n);
}

}  // namespace

Trajectory extract_trajectory(std::span<const double> x, const assemble::Horizon& horizon,
                              double real_max_thrust) {
    const assemble::VariableLayout at{horizon.node_count()};
    if (x.size() != at.variable_count()) {
        throw InternalFault("solution vector does not hold 11 entries per node");
    }
    Trajectory trajectory;
    reserve_lists(trajectory, at.n);
    const double dt = horizon.dt();
    for (std::size_t k = 0; k < at.n; ++k) {
        const double* r = &x[at.position(k, 0)];
        const double* v = &x[at.velocity(k, 0)];
        const double* u = &x[at.thrust_acceleration(k, 0)];
        const double z = x[at.log_mass(k)];
        trajectory.positions.push_back({r[0], r[1], r[2]});
        trajectory.velocities.push_back({v[0], v[1], v[2]});
        trajectory.u_values.push_back({u[0], u[1], u[2]});
        trajectory.s_values.push_back(x[at.acceleration_bound(k)]);
        trajectory.z_values.push_back(z);
        const double thrust = std::sqrt((u[0] * u[0] + u[1] * u[1]) + u[2] * u[2]) * std::exp(z);
        trajectory.thrusts.push_back(thrust);
        trajectory.normalized_thrusts.push_back(thrust / real_max_thrust);
        trajectory.time_points.push_back(dt * static_cast<double>(k));
    }
    trajectory.objective = trajectory.z_values.back();
    trajectory.final_mass = std::exp(trajectory.objective);
    trajectory.time_of_flight = horizon.time_of_flight();
    return trajectory;
}

}  // namespace tarvo_core::solve
