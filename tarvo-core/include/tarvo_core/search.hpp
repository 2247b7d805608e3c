// Time-of-flight search: bracket, 13-point scan, 20 golden-section steps maximising the final
// mass, then one final fixed-horizon solve at the chosen time of flight.
#pragma once

#include <functional>

#include "tarvo_core/config.hpp"
#include "tarvo_core/result.hpp"
#include "tarvo_core/solve.hpp"

namespace tarvo_core::search {

// One trial: a fixed-horizon solve at the given time of flight.
using TrialSolve = std::function<Result<solve::Trajectory>(const config::Config&, double)>;

// The search with every trial solved by solve_fixed with these settings.
Result<solve::Trajectory> search_time_of_flight(const config::Config& config,
                                                const solve::SolverSettings& settings = {});

// The same search with the trial solve replaced (to observe or script the trials).
Result<solve::Trajectory> search_time_of_flight(const config::Config& config,
                                                const TrialSolve& trial);

}  // namespace tarvo_core::search
