// Time-of-flight search: bracket, 13-point scan, 20 golden-section steps maximising the final
// mass, then one final fixed-horizon solve at the chosen time of flight.
//
// Every max is IEEE maxNum (std::fmax): a NaN operand yields the other operand.
#include "tarvo_core/search.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "number_text.hpp"
#include "search_steps.hpp"
#include "validation.hpp"

namespace tarvo_core::search {
namespace {

constexpr double kDryMassFloor = 1.0;
constexpr double kAccelerationFloor = 0.001;
constexpr double kLowerBoundFloor = 1.0;
constexpr double kFuelFlowFloor = 1e-9;
constexpr double kBracketRatio = 4.0;

// A bound in fixed notation with three decimals; "inf", "-inf" and "NaN" when not finite.
std::string format_bound(double value) {
    if (!std::isfinite(value)) {
        return number_text(value);
    }
    // Sign, up to 309 integer digits, point, three decimals and the terminating NUL.
    char text[320];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

// The new points of `depth` steps from `start` for every outcome of the comparisons after
// the first, in level order: the children of entry j are 2j + 1 (keep lower) and 2j + 2.
std::vector<double> speculative_points(const Golden& start, int depth, bool first_keeps_lower) {
    std::vector<Golden> states{start};
    std::vector<double> points{states[0].step(first_keeps_lower)};
    for (std::size_t j = 0; points.size() < (std::size_t{1} << depth) - 1; ++j) {
        for (const bool keep_lower : {true, false}) {
            Golden child = states[j];
            points.push_back(child.step(keep_lower));
            states.push_back(child);
        }
    }
    return points;
}

}  // namespace


Bracket choose_bracket(const config::Config& config) {
    const config::Solver& solver = config.solver;
    if (solver.tof_min && solver.tof_max) {
        return {*solver.tof_min, *solver.tof_max};
    }
    const config::Spacecraft& craft = config.spacecraft;
    const double dry = std::fmax(craft.wet_mass - craft.fuel, kDryMassFloor);
    const double a_max =
        std::fmax((craft.real_max_thrust * craft.max_thrust_pct) / dry, kAccelerationFloor);
    const config::Vec3& v = craft.initial_velocity;
    const double speed = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    const double lo = std::fmax(speed / a_max, kLowerBoundFloor);
    const double flow = std::fmax(
        craft.fuel_consumption * (craft.real_max_thrust * craft.min_thrust_pct), kFuelFlowFloor);
    const double hi = std::fmax(craft.fuel / flow, kBracketRatio * lo);
    return {lo, hi};
}

Failure no_feasible_point(const Bracket& bracket) {
    return Failure::infeasible("infeasible: no feasible time-of-flight in [" +
                               format_bound(bracket.lo) + ", " + format_bound(bracket.hi) + "]");
}

std::vector<TrialReport> TrialRunner::run(const std::vector<double>& times) const {
    std::vector<TrialReport> reports(times.size());
    const auto solve_one = [&](std::size_t i) { reports[i] = evaluate_(times[i]); };
    if (parallel_for_) {
        parallel_for_(times.size(), solve_one);
    } else {
        for (std::size_t i = 0; i < times.size(); ++i) {
            solve_one(i);
        }
    }
    return reports;
}

int TrialRunner::steps_per_round() const {
    int depth = 1;
    while (depth < kRefinementSteps && (std::size_t{2} << depth) - 1 <= width_) {
        ++depth;
    }
    return depth;
}

std::vector<TrialReport> scan_grid(const TrialRunner& runner, const Bracket& bracket) {
    std::vector<double> times;
    for (int i = 0; i <= kGridIntervals; ++i) {
        times.push_back(bracket.grid_time(i));
    }
    std::vector<TrialReport> reports = runner.run(times);
    for (const TrialReport& report : reports) {
        runner.observe(report);
    }
    return reports;
}

int best_report(const std::vector<TrialReport>& reports, bool (*counts)(const TrialReport&)) {
    int best = -1;
    for (int i = 0; i < static_cast<int>(reports.size()); ++i) {
        const TrialReport& report = reports[static_cast<std::size_t>(i)];
        if (counts(report) &&
            (best < 0 || report.score > reports[static_cast<std::size_t>(best)].score)) {
            best = i;
        }
    }
    return best;
}

double Golden::step(bool keep_lower) {
    if (keep_lower) {
        b = x2;
        x2 = x1;
        f2 = f1;
        x1 = b + (b - a) * -kGolden;
        return x1;
    }
    a = x1;
    x1 = x2;
    f1 = f2;
    x2 = a + (b - a) * kGolden;
    return x2;
}

bool lower_unless_upper_is_greater(const Golden& golden) { return golden.f1 >= golden.f2; }

Golden refine(const TrialRunner& runner, double a, double b, const KeepLower& keep_lower) {
    const double d = (b - a) * kGolden;
    Golden golden{a, b, b - d, a + d};
    const std::vector<TrialReport> first = runner.run({golden.x1, golden.x2});
    for (const TrialReport& report : first) {
        runner.observe(report);
    }
    golden.f1 = first[0].score;
    golden.f2 = first[1].score;
    for (int done = 0; done < kRefinementSteps;) {
        const int depth = std::min(runner.steps_per_round(), kRefinementSteps - done);
        const std::vector<TrialReport> reports =
            runner.run(speculative_points(golden, depth, keep_lower(golden)));
        // Follow the decisions the one-at-a-time search makes through the tree.
        std::size_t j = 0;
        for (int level = 0; level < depth; ++level, ++done) {
            const bool lower = keep_lower(golden);
            if (level > 0) {
                j = 2 * j + (lower ? 1 : 2);
            }
            golden.step(lower);
            golden.set_new(lower, reports[j].score);
            runner.observe(reports[j]);
        }
    }
    return golden;
}

TrialReport trial_report(double tof, const Result<solve::Trajectory>& outcome) {
    if (!outcome) {
        const double failed = -std::numeric_limits<double>::infinity();
        const Failure& failure = outcome.error();
        return {tof, false, failed, failure.text, 0, failed, failure.kind, failure.status};
    }
    const solve::Trajectory& trajectory = outcome.value();
    return {tof, true, trajectory.final_mass, trajectory.status,
            trajectory.solver.iterations, trajectory.final_mass, std::nullopt, {}};
}

Result<solve::Trajectory> search_time_of_flight(const config::Config& config,
                                                const TrialSolve& trial,
                                                const SearchOptions& options) {
    // Every trial would fail with the same text; report it instead of "infeasible".
    if (auto failure = search_input_failure(config)) {
        return std::move(*failure);
    }
    // The trial's report with the score the options ask for.
    const auto report = [&](double tof, const Result<solve::Trajectory>& outcome) {
        TrialReport scored = trial_report(tof, outcome);
        if (scored.ok && options.score) {
            scored.score = options.score(outcome.value());
        }
        return scored;
    };
    const TrialRunner runner([&](double tof) { return report(tof, trial(config, tof)); },
                             options.parallel_for, options.width, options.observe);
    const Bracket bracket = choose_bracket(config);
    const int best = best_report(scan_grid(runner, bracket), succeeded);
    if (best < 0) {
        return no_feasible_point(bracket);
    }
    const double a = bracket.grid_time(std::max(best - 1, 0));
    const double b = bracket.grid_time(std::min(best + 1, kGridIntervals));
    const Golden golden = refine(runner, a, b, lower_unless_upper_is_greater);
    const double tof = golden.f1 >= golden.f2 ? golden.x1 : golden.x2;
    Result<solve::Trajectory> outcome = trial(config, tof);  // the final solve
    runner.observe(report(tof, outcome));
    return outcome;
}

Result<solve::Trajectory> search_time_of_flight(const config::Config& config,
                                                const TrialSolve& trial) {
    return search_time_of_flight(config, trial, SearchOptions{});
}

Result<solve::Trajectory> search_time_of_flight(const config::Config& config,
                                                const solve::SolverSettings& settings) {
    Result<solve::Trajectory> result = search_time_of_flight(
        config, [&settings](const config::Config& trial_config, double tof) {
            return solve::solve_fixed(trial_config, tof, settings);
        });
    // Once cancelled, every later trial fails at once; the outcome is the cancellation.
    if (settings.cancel != nullptr && settings.cancel->load(std::memory_order_relaxed)) {
        return solve::cancelled();
    }
    return result;
}

}  // namespace tarvo_core::search
