// One landing with the options of plan.hpp: the program they ask for (thrust pointing,
// accuracy), the fixed time of flight or the search, and the closest landing when the target
// is out of reach. Default options solve exactly what solve_fixed or the search solves.
#include "tarvo_core/plan.hpp"

#include <optional>
#include <utility>

#include "closest_landing.hpp"
#include "landing_program.hpp"
#include "plan_trials.hpp"
#include "validation.hpp"

namespace tarvo_core::plan {
namespace {

// The landing the program gives, on the target or failed, as the fixed solve or the search.
Outcome plan_on_target(PlanTrials& trials, const LandingProgram& program,
                       std::optional<double> fixed_tof) {
    Result<solve::Trajectory> landing =
        fixed_tof ? trials.fixed(*fixed_tof, program) : trials.search(program);
    const double tof = landing ? landing.value().time_of_flight : fixed_tof.value_or(0.0);
    return {std::move(landing), tof, 0.0, "", 0};
}

// What refuses the plan before any trial: what refuses the fixed solve or the search, and
// for the continuous method what its model of the flight needs first.
std::optional<Failure> input_failure(const config::Config& config, Method method) {
    if (method == Method::continuous) {
        if (std::optional<Failure> failure = flight_model_failure(config)) {
            return failure;
        }
    }
    const std::optional<double> tof = config.solver.time_of_flight;
    return tof ? fixed_input_failure(config, *tof) : search_input_failure(config);
}

}  // namespace

Outcome plan_landing(const config::Config& config, const Options& options) {
    const std::optional<double> fixed_tof = config.solver.time_of_flight;
    Result<LandingProgram> program = landing_program(config, options);
    if (!program) {
        return {std::move(program).error(), fixed_tof.value_or(0.0), 0.0, "", 0};
    }
    if (std::optional<Failure> failure = input_failure(config, options.method)) {
        return {std::move(*failure), fixed_tof.value_or(0.0), 0.0, "", 0};
    }
    PlanTrials trials(config, options);
    Outcome outcome = plan_on_target(trials, program.value(), fixed_tof);
    if (!outcome.trajectory && options.unreachable == Unreachable::closest &&
        trials.nothing_reached() && !trials.cancelled()) {
        outcome = closest_landing(config, trials, program.value(), fixed_tof,
                                  outcome.trajectory.error());
    }
    outcome.iterations = trials.iterations();
    if (trials.cancelled()) {
        outcome.trajectory = solve::cancelled();
    }
    return outcome;
}

}  // namespace tarvo_core::plan
