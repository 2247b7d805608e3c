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

// Final mass of a trial, -infinity when the trial fails; the trajectory is dropped at once.
double final_mass_of(const TrialSolve& trial, const config::Config& config, double tof) {
    const Result<solve::Trajectory> outcome = trial(config, tof);
    return outcome ? outcome.value().final_mass : -std::numeric_limits<double>::infinity();
}

// Index of the best grid point: the first success, replaced only by a strictly greater
// value (a NaN neither replaces nor is replaced). nullopt when no grid point is feasible.
std::optional<int> scan_grid(const TrialSolve& trial, const config::Config& config,
                             const Bracket& bracket, double step) {
    std::optional<int> best_index;
    double best = 0.0;
    for (int i = 0; i <= kGridIntervals; ++i) {
        const Result<solve::Trajectory> outcome = trial(config, step * i + bracket.lo);
        if (!outcome) {
            continue;
        }
        const double value = outcome.value().final_mass;
        if (!best_index || value > best) {
            best_index = i;
            best = value;
        }
    }
    return best_index;
}

// Golden-section maximisation over [a, b]; returns the chosen time of flight.
double refine(const TrialSolve& trial, const config::Config& config, double a, double b) {
    const double d = (b - a) * kGolden;
    double x1 = b - d;
    double x2 = a + d;
    double f1 = final_mass_of(trial, config, x1);
    double f2 = final_mass_of(trial, config, x2);
    for (int step = 0; step < kRefinementSteps; ++step) {
        if (f1 >= f2) {
            b = x2;
            x2 = x1;
            f2 = f1;
            x1 = b + (b - a) * -kGolden;
            f1 = final_mass_of(trial, config, x1);
        } else {
            a = x1;
            x1 = x2;
            f1 = f2;
            x2 = a + (b - a) * kGolden;
            f2 = final_mass_of(trial, config, x2);
        }
    }
    return f1 >= f2 ? x1 : x2;
}

}  // namespace

Result<solve::Trajectory> search_time_of_flight(const config::Config& config,
                                                const TrialSolve& trial) {
    // Every trial would fail with the same text; report it instead of "infeasible".
    if (auto error = assemble::node_count_error(config.solver.n)) {
        return std::move(*error);
    }
    const Bracket bracket = choose_bracket(config);
    const double step = (bracket.hi - bracket.lo) / static_cast<double>(kGridIntervals);
    const std::optional<int> best = scan_grid(trial, config, bracket, step);
    if (!best) {
        return no_feasible_point(bracket);
    }
    const double a = step * std::max(*best - 1, 0) + bracket.lo;
    const double b = step * std::min(*best + 1, kGridIntervals) + bracket.lo;
    return trial(config, refine(trial, config, a, b));
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
