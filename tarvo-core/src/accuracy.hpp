// What "high accuracy" means for one landing program: tighter solver tolerances and a cost
// weighted so that the solver's stopping test measures what matters (see accuracy.cpp).
#pragma once

#include "tarvo_core/config.hpp"
#include "tarvo_core/plan_types.hpp"
#include "tarvo_core/solve.hpp"

namespace tarvo_core::plan {

// Standard: every setting at the solver's default (solve_fixed's). High: tolerances 1e-10,
// the reduced (AlmostSolved) tolerances at the default 1e-8, and room for 400 iterations.
solve::SolverSettings accuracy_settings(Accuracy accuracy);

// Weight of the final log-mass in the cost: 1 for the default accuracy; for high accuracy the
// scale of the positions (their largest coordinate in magnitude, at least 1).
double final_mass_weight(Accuracy accuracy, const config::Spacecraft& spacecraft);

}  // namespace tarvo_core::plan
