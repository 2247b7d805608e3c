// The steps of a time-of-flight search, shared by the search of the fixed program and the
// window search of the continuous method: the bracket, the trial runner (trials at once where
// the caller allows), the 13-point scan and the golden-section refinement.
#pragma once

#include <cstddef>
#include <functional>
#include <utility>
#include <vector>

#include "tarvo_core/config.hpp"
#include "tarvo_core/result.hpp"
#include "tarvo_core/search.hpp"

namespace tarvo_core::search {

inline constexpr int kGridIntervals = 12;
inline constexpr int kRefinementSteps = 20;
inline constexpr double kGolden = 0.618033988749895;

struct Bracket {
    double lo;
    double hi;

    double step() const { return (hi - lo) / static_cast<double>(kGridIntervals); }
    double grid_time(int i) const { return step() * i + lo; }
};

// Both configured bounds as given, otherwise the auto bracket: lo from the time to cancel
// the initial speed at the largest dry-vehicle acceleration, hi from the time the fuel lasts
// at the smallest thrust.
Bracket choose_bracket(const config::Config& config);

// "infeasible: no feasible time-of-flight in [lo, hi]", three decimals.
Failure no_feasible_point(const Bracket& bracket);

// Evaluates trials, at once where the caller allows, and tells the observer of those used.
class TrialRunner {
public:
    using Evaluate = std::function<TrialReport(double tof)>;
    using Observe = std::function<void(const TrialReport&)>;

    // `evaluate` solves and scores one trial; it may run on several threads at once.
    TrialRunner(Evaluate evaluate, ParallelFor parallel_for, std::size_t width,
                Observe observe)
        : evaluate_(std::move(evaluate)),
          parallel_for_(std::move(parallel_for)),
          width_(width),
          observe_(std::move(observe)) {}

    // Reports of trials at `times`, in that order; observes none of them.
    std::vector<TrialReport> run(const std::vector<double>& times) const;

    void observe(const TrialReport& report) const {
        if (observe_) {
            observe_(report);
        }
    }

    // Golden-section steps per round: d with 2^d - 1 trials at most `width`, at least 1.
    int steps_per_round() const;

private:
    Evaluate evaluate_;
    ParallelFor parallel_for_;
    std::size_t width_;
    Observe observe_;
};

// The 13 grid points of the bracket, every one observed in order; their reports.
std::vector<TrialReport> scan_grid(const TrialRunner& runner, const Bracket& bracket);

// Index of the best report that `counts`: the first, replaced only by a strictly greater
// score (a NaN neither replaces nor is replaced). -1 when none counts.
int best_report(const std::vector<TrialReport>& reports, bool (*counts)(const TrialReport&));

// Whether a report counts for the fixed program's search: a trial that succeeded.
inline bool succeeded(const TrialReport& report) { return report.ok; }

// The golden-section interval [a, b], its interior points and their scores.
struct Golden {
    double a, b, x1, x2;
    double f1 = 0.0, f2 = 0.0;

    // One step: keep [a, x2] when `keep_lower`, else [x1, b]; returns the new interior point,
    // whose score the caller stores with `set_new`.
    double step(bool keep_lower);
    void set_new(bool keep_lower, double value) { (keep_lower ? f1 : f2) = value; }
};

// Which part a step keeps, from the interval and its scores.
using KeepLower = std::function<bool(const Golden&)>;

// The rule of the fixed program's search: the lower part unless f2 is strictly greater.
bool lower_unless_upper_is_greater(const Golden& golden);

// Golden-section maximisation over [a, b], kRefinementSteps steps; every trial used is
// observed in order, and `keep_lower` decides each step from the reports observed before
// it. Returns the final interval with its interior points and scores.
Golden refine(const TrialRunner& runner, double a, double b, const KeepLower& keep_lower);

}  // namespace tarvo_core::search
