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

#include "assemble.hpp"

namespace tarvo_core::search {
namespace {

constexpr double kDryMassFloor = 1.0;
constexpr double kAccelerationFloor = 0.001;
constexpr double kLowerBoundFloor = 1.0;
constexpr double kFuelFlowFloor = 1e-9;
constexpr double kBracketRatio = 4.0;
constexpr int kGridIntervals = 12;
constexpr double kGolden = 0.618033988749895;
constexpr int kRefinementSteps = 20;

struct Bracket {
    double lo;
    double hi;
};

// Both configured bounds as given, otherwise the auto bracket: lo from the time to cancel
// the initial speed at the largest dry-vehicle acceleration, hi from the time the fuel lasts
// at the smallest thrust.
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

// A bound in fixed notation with three decimals; "inf", "-inf" and "NaN" when not finite.
std::string format_bound(double value) {
    if (std::isnan(value)) {
        return "NaN";
    }
    if (std::isinf(value)) {
        return value > 0 ? "inf" : "-inf";
    }
    // Sign, up to 309 integer digits, point, three decimals and the terminating NUL.
    char text[320];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

std::string no_feasible_point(const Bracket& bracket) {
    return "infeasible: no feasible time-of-flight in [" + format_bound(bracket.lo) + ", " +
           format_bound(bracket.hi) + "]";
}

// Solves trials, at once where the options allow, and tells the observer of the ones used.
class TrialRunner {
public:
    TrialRunner(const config::Config& config, const TrialSolve& trial,
                const SearchOptions& options)
        : config_(config), trial_(trial), options_(options) {}

    // Reports of trials at `times`, in that order; observes none of them.
    std::vector<TrialReport> run(const std::vector<double>& times) const {
        std::vector<TrialReport> reports(times.size());
        const auto solve_one = [&](std::size_t i) {
            reports[i] = report(times[i], trial_(config_, times[i]));
        };
        if (options_.parallel_for) {
            options_.parallel_for(times.size(), solve_one);
        } else {
            for (std::size_t i = 0; i < times.size(); ++i) {
                solve_one(i);
            }
        }
        return reports;
    }

    // The final solve, whose trajectory is the search's result.
    Result<solve::Trajectory> solve_final(double tof) const {
        Result<solve::Trajectory> outcome = trial_(config_, tof);
        observe(report(tof, outcome));
        return outcome;
    }

    // The trial's report with the score the options ask for.
    TrialReport report(double tof, const Result<solve::Trajectory>& outcome) const {
        TrialReport scored = trial_report(tof, outcome);
        if (scored.ok && options_.score) {
            scored.score = options_.score(outcome.value());
        }
        return scored;
    }

    void observe(const TrialReport& report) const {
        if (options_.observe) {
            options_.observe(report);
        }
    }

    // Golden-section steps per round: d with 2^d - 1 trials at most `width`, at least 1.
    int steps_per_round() const {
        int depth = 1;
        while (depth < kRefinementSteps && (std::size_t{2} << depth) - 1 <= options_.width) {
            ++depth;
        }
        return depth;
    }

private:
    const config::Config& config_;
    const TrialSolve& trial_;
    const SearchOptions& options_;
};

// Index of the best grid point: the first success, replaced only by a strictly greater
// value (a NaN neither replaces nor is replaced). nullopt when no grid point is feasible.
std::optional<int> scan_grid(const TrialRunner& runner, const Bracket& bracket, double step) {
    std::vector<double> times;
    for (int i = 0; i <= kGridIntervals; ++i) {
        times.push_back(step * i + bracket.lo);
    }
    std::optional<int> best_index;
    double best = 0.0;
    const std::vector<TrialReport> reports = runner.run(times);
    for (int i = 0; i <= kGridIntervals; ++i) {
        const TrialReport& report = reports[static_cast<std::size_t>(i)];
        runner.observe(report);
        if (report.ok && (!best_index || report.score > best)) {
            best_index = i;
            best = report.score;
        }
    }
    return best_index;
}

// The golden-section interval [a, b], its interior points and their final masses.
struct Golden {
    double a, b, x1, x2;
    double f1 = 0.0, f2 = 0.0;

    // One step: keep [a, x2] when f1 >= f2, else [x1, b]; returns the new interior point,
    // whose final mass the caller stores with `set_new`.
    double step(bool keep_lower) {
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

    void set_new(bool keep_lower, double value) { (keep_lower ? f1 : f2) = value; }
};

// The new points of `depth` steps from `start` for every outcome of the comparisons after
// the first, in level order: the children of entry j are 2j + 1 (f1 >= f2) and 2j + 2.
std::vector<double> speculative_points(const Golden& start, int depth) {
    std::vector<Golden> states{start};
    std::vector<double> points{states[0].step(start.f1 >= start.f2)};
    for (std::size_t j = 0; points.size() < (std::size_t{1} << depth) - 1; ++j) {
        for (const bool keep_lower : {true, false}) {
            Golden child = states[j];
            points.push_back(child.step(keep_lower));
            states.push_back(child);
        }
    }
    return points;
}

// Golden-section maximisation over [a, b]; returns the chosen time of flight.
double refine(const TrialRunner& runner, double a, double b) {
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
        const std::vector<TrialReport> reports = runner.run(speculative_points(golden, depth));
        // Follow the comparisons the one-at-a-time search makes through the tree.
        std::size_t j = 0;
        for (int level = 0; level < depth; ++level, ++done) {
            const bool keep_lower = golden.f1 >= golden.f2;
            if (level > 0) {
                j = 2 * j + (keep_lower ? 1 : 2);
            }
            golden.step(keep_lower);
            golden.set_new(keep_lower, reports[j].score);
            runner.observe(reports[j]);
        }
    }
    return golden.f1 >= golden.f2 ? golden.x1 : golden.x2;
}

}  // namespace

TrialReport trial_report(double tof, const Result<solve::Trajectory>& outcome) {
    if (!outcome) {
        const double failed = -std::numeric_limits<double>::infinity();
        return {tof, false, failed, outcome.error(), 0, failed};
    }
    const solve::Trajectory& trajectory = outcome.value();
    return {tof, true, trajectory.final_mass, trajectory.status,
            trajectory.solver_info.iterations, trajectory.final_mass};
}

Result<solve::Trajectory> search_time_of_flight(const config::Config& config,
                                                const TrialSolve& trial,
                                                const SearchOptions& options) {
    // Every trial would fail with the same text; report it instead of "infeasible".
    if (auto error = assemble::node_count_error(config.solver.n)) {
        return std::move(*error);
    }
    const TrialRunner runner(config, trial, options);
    const Bracket bracket = choose_bracket(config);
    const double step = (bracket.hi - bracket.lo) / static_cast<double>(kGridIntervals);
    const std::optional<int> best = scan_grid(runner, bracket, step);
    if (!best) {
        return no_feasible_point(bracket);
    }
    const double a = step * std::max(*best - 1, 0) + bracket.lo;
    const double b = step * std::min(*best + 1, kGridIntervals) + bracket.lo;
    return runner.solve_final(refine(runner, a, b));
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
        return solve::cancelled_text();
    }
    return result;
}

}  // namespace tarvo_core::search
