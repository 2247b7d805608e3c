#include "plan_trials.hpp"

#include <utility>

namespace tarvo_core::plan {

LandingProgram first_program(const LandingProgram& program) {
    LandingProgram first = program;
    first.formulation.fuel_limit = program.formulation.minimises_distance();
    return first;
}

Result<solve::Trajectory> PlanTrials::solve(double tof, const LandingProgram& program) {
    std::uint32_t iterations = 0;
    Result<solve::Trajectory> trajectory = solve_landing(config_, tof, program, iterations);
    iterations_ += iterations;
    return trajectory;
}

void PlanTrials::use(const search::TrialReport& report) {
    if (report.ok) {
        ++succeeded_;
    } else if (report.failure == FailureKind::solver_status ||
               report.failure == FailureKind::infeasible) {
        ++rejected_;
    }
    if (options_.observe) {
        options_.observe(report);
    }
}

Result<solve::Trajectory> PlanTrials::fixed(double tof, const LandingProgram& program) {
    const bool continuous = options_.method == Method::continuous;
    Result<solve::Trajectory> trajectory =
        solve(tof, continuous ? first_program(program) : program);
    if (trajectory && continuous) {
        trajectory = flyable(tof, program, std::move(trajectory).value());
    }
    use(search::trial_report(tof, trajectory));
    return trajectory;
}

Result<solve::Trajectory> PlanTrials::search(const LandingProgram& program, const Score& score) {
    if (options_.method == Method::continuous) {
        return window_search(program, score);
    }
    const search::SearchOptions how{options_.parallel_for, options_.width,
                                    [this](const search::TrialReport& report) { use(report); },
                                    score};
    const auto trial = [this, &program](const config::Config&, double tof) {
        return solve(tof, program);
    };
    return search::search_time_of_flight(config_, trial, how);
}

}  // namespace tarvo_core::plan
