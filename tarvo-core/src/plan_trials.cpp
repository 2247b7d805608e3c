#include "plan_trials.hpp"

namespace tarvo_core::plan {

Result<solve::Trajectory> PlanTrials::solve(double tof, const LandingProgram& program) {
    std::uint32_t iterations = 0;
    Result<solve::Trajectory> trajectory = solve_landing(config_, tof, program, iterations);
    iterations_ += iterations;
    return trajectory;
}

void PlanTrials::use(const search::TrialReport& report) {
    if (report.ok) {
        ++succeeded_;
    } else if (report.failure == FailureKind::solver_status) {
        ++rejected_;
    }
    if (options_.observe) {
        options_.observe(report);
    }
}

Result<solve::Trajectory> PlanTrials::fixed(double tof, const LandingProgram& program) {
    Result<solve::Trajectory> trajectory = solve(tof, program);
    use(search::trial_report(tof, trajectory));
    return trajectory;
}

Result<solve::Trajectory> PlanTrials::search(
    const LandingProgram& program, const std::function<double(const solve::Trajectory&)>& score) {
    const search::SearchOptions how{options_.parallel_for, options_.width,
                                    [this](const search::TrialReport& report) { use(report); },
                                    score};
    return search::search_time_of_flight(
        config_, [this, &program](const config::Config&, double tof) { return solve(tof, program); },
        how);
}

}  // namespace tarvo_core::plan
