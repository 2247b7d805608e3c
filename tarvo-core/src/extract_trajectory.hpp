// Reading a primal solution vector back into a Trajectory. Kept apart from solve_fixed so
// that its cost can be measured on its own.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "tarvo_core/solve.hpp"

namespace tarvo_core::solve {

// Fills every per-node list from x (11n entries in the decision-vector layout), with
// time_points dt*k for dt = tof / n, thrusts |u_k| * exp(z_k) and the final log-mass as
// objective. Throws InternalFault when n is 0 or x does not hold 11n entries.
Trajectory extract_trajectory(std::span<const double> x, std::uint64_t n, double tof,
                              double real_max_thrust, std::string status);

}  // namespace tarvo_core::solve
