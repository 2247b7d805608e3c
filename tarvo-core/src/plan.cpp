#include "tarvo_core/plan.hpp"

#include <utility>

namespace tarvo_core::plan {
namespace {

solve::SolverSettings solver_settings(const Options& options) {
    solve::SolverSettings settings;
    settings.cancel = options.cancel;
    return settings;
}

bool cancelled(const Options& options) {
    return options.cancel != nullptr && options.cancel->load(std::memory_order_relaxed);
}

Outcome plan_fixed(const config::Config& config, double tof, const Options& options) {
    Result<solve::Trajectory> trajectory =
        solve::solve_fixed(config, tof, solver_settings(options));
    const search::TrialReport report = search::trial_report(tof, trajectory);
    if (options.observe) {
        options.observe(report);
    }
    return {std::move(trajectory), tof, 0.0, "", report.iterations};
}

Outcome plan_searched(const config::Config& config, const Options& options) {
    const solve::SolverSettings settings = solver_settings(options);
    std::uint64_t iterations = 0;
    search::SearchOptions how{options.parallel_for, options.width,
                              [&](const search::TrialReport& report) {
                                  iterations += report.iterations;
                                  if (options.observe) {
                                      options.observe(report);
                                  }
                              },
                              {}};
    Result<solve::Trajectory> trajectory = search::search_time_of_flight(
        config,
        [&settings](const config::Config& trial_config, double tof) {
            return solve::solve_fixed(trial_config, tof, settings);
        },
        how);
    const double tof = trajectory ? trajectory.value().time_of_flight : 0.0;
    return {std::move(trajectory), tof, 0.0, "", iterations};
}

}  // namespace

Outcome plan_landing(const config::Config& config, const Options& options) {
    Outcome outcome = config.solver.time_of_flight
                          ? plan_fixed(config, *config.solver.time_of_flight, options)
                          : plan_searched(config, options);
    if (cancelled(options)) {
        outcome.trajectory = solve::cancelled_text();
    }
    return outcome;
}

}  // namespace tarvo_core::plan
