// The landing nearest to a target that no time of flight reaches: first the point of the
// target's horizontal plane nearest to the target that the vehicle can land on, searched over
// the time of flight; then the fuel-optimal landing at that distance.
#pragma once

#include <optional>
#include <string>

#include "landing_program.hpp"
#include "plan_trials.hpp"
#include "tarvo_core/config.hpp"
#include "tarvo_core/plan_types.hpp"

namespace tarvo_core::plan {

// `program` is the plan's program, `unreachable` its failure. With a fixed time
// of flight both steps run at that time of flight only. The outcome's iterations are left to
// the caller. When not even the nearest point can be reached the outcome fails with
// `unreachable` and a note that says why.
Outcome closest_landing(const config::Config& config, PlanTrials& trials,
                        const LandingProgram& program, std::optional<double> fixed_tof,
                        Failure unreachable);

// Distance of the trajectory's last node from the configuration's target position.
double distance_to_target(const solve::Trajectory& trajectory, const config::Config& config);

}  // namespace tarvo_core::plan
