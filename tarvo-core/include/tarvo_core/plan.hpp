// Planning one landing beyond the fixed formulation, with the options of plan_types.hpp.
// With default options the trajectory is exactly the one solve_fixed or search_time_of_flight
// returns.
#pragma once

#include "tarvo_core/config.hpp"
#include "tarvo_core/plan_types.hpp"

namespace tarvo_core::plan {

// Plans the landing `config` describes: the fixed time of flight when set, else the search.
// environment.max_angle_deg below 90 keeps the thrust within that angle of the direction
// opposite to gravity at every node; a negative or NaN angle, or a limit without a finite,
// non-zero gravity, fails before any solve with a text naming the angle. So does any
// configuration solve_fixed and the search refuse, and for the continuous method also a
// number that is not finite or fuel not below the wet mass (FailureKind::invalid_input).
// The trajectory's solver figures are those of the final solve, its gap in log-mass.
Outcome plan_landing(const config::Config& config, const Options& options = {});

}  // namespace tarvo_core::plan
