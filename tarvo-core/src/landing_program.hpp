// How every solve of one plan is formulated and run: the thrust-pointing cone the environment
// asks for, the solver settings and cost weight of the chosen accuracy, the limits held
// between the nodes for the continuous method, and, for a closest landing, the target's
// horizontal plane.
#pragma once

#include <cstdint>

#include "formulation.hpp"
#include "tarvo_core/config.hpp"
#include "tarvo_core/plan_types.hpp"
#include "tarvo_core/result.hpp"
#include "tarvo_core/solve.hpp"

namespace tarvo_core::plan {

struct LandingProgram {
    assemble::Formulation formulation;
    solve::SolverSettings settings;
};

// The program that the options and the environment ask for, or why there is none (an
// invalid pointing limit). Standard accuracy with no pointing limit is the fixed program.
Result<LandingProgram> landing_program(const config::Config& config, const Options& options);

// The program solved at time of flight tof. `iterations` receives the solver's iteration
// count whether or not the solve succeeds. The reported gap is in the units of the
// unweighted cost: log-mass, or metres when the program minimises a distance.
Result<solve::Trajectory> solve_landing(const config::Config& config, double tof,
                                        const LandingProgram& program,
                                        std::uint32_t& iterations);

}  // namespace tarvo_core::plan
