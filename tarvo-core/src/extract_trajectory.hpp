// Reading a primal solution vector back into a Trajectory. Kept apart from solve_fixed so
// that its cost can be measured on its own.
#pragma once

#include <span>

#include "assemble.hpp"
#include "tarvo_core/solve.hpp"

namespace tarvo_core::solve {

// Fills every per-node list, the objective (final log-mass), the final mass and the time of
// flight from x (11N entries in the decision-vector layout): time points k dt and thrusts
// |u_k| * exp(z_k). Status and solver figures are left to the caller. Throws InternalFault
// when x does not hold 11N entries.
Trajectory extract_trajectory(std::span<const double> x, const assemble::Horizon& horizon,
                              double real_max_thrust);

}  // namespace tarvo_core::solve
