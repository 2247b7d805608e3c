// The fixed-horizon solve with the planning layer's additions to the program (formulation.hpp).
#pragma once

#include <cstdint>

#include "formulation.hpp"
#include "tarvo_core/config.hpp"
#include "tarvo_core/result.hpp"
#include "tarvo_core/solve.hpp"

namespace tarvo_core::solve {

// solve_fixed on the program with the formulation's additions: a default Formulation gives
// solve_fixed's result bit for bit. The trajectory is read from the first 11N entries of the
// solution. `iterations`, when not null, receives the solver's iteration count, also when
// the status is refused (0 when no solver ran).
Result<Trajectory> solve_formulated(const config::Config& config, double tof,
                                    const assemble::Formulation& formulation,
                                    const SolverSettings& settings,
                                    std::uint32_t* iterations = nullptr);

}  // namespace tarvo_core::solve
