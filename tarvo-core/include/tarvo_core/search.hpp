// Time-of-flight search: bracket, 13-point scan, 20 golden-section steps maximising the final
// mass, then one final fixed-horizon solve at the chosen time of flight.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "tarvo_core/config.hpp"
#include "tarvo_core/result.hpp"
#include "tarvo_core/solve.hpp"

namespace tarvo_core::search {

// One trial: a fixed-horizon solve at the given time of flight.
using TrialSolve = std::function<Result<solve::Trajectory>(const config::Config&, double)>;

// What the search keeps of one trial.
struct TrialReport {
    double time_of_flight = 0.0;
    bool ok = false;
    double final_mass = 0.0;  // -infinity when the trial failed
    std::string status;       // the solver status, or the failure text
    std::uint32_t iterations = 0;  // interior-point iterations of a successful trial
    // What the search maximises: the final mass unless SearchOptions::score says otherwise;
    // -infinity when the trial failed.
    double score = 0.0;
    std::optional<FailureKind> failure;  // why the trial failed; nullopt when it succeeded
    std::string solver_status;  // the solver's status name when failure is solver_status
};

// The report of one trial, scored by its final mass; the trajectory itself is not kept.
TrialReport trial_report(double tof, const Result<solve::Trajectory>& outcome);

// Runs body(0) ... body(count - 1), possibly several at once; returns when all have run.
using ParallelFor =
    std::function<void(std::size_t count, const std::function<void(std::size_t)>& body)>;

// How the trials run. The default runs them strictly one after another. With `width`
// trials at once the scan runs its grid points together, the golden-section search its two
// interior points together and then several steps at once, speculatively: the next point is
// one of two known candidates, so 2^d - 1 trials cover d steps. The trials the search uses,
// their order and the result are the same for every width.
struct SearchOptions {
    ParallelFor parallel_for;  // empty: one trial after another
    std::size_t width = 1;     // how many trials parallel_for runs at once
    std::function<void(const TrialReport&)> observe;  // each trial the search uses, in order
    // What a successful trial scores; empty: its final mass. The search keeps the time of
    // flight of the highest score (a planner maximises minus a distance this way).
    std::function<double(const solve::Trajectory&)> score;
};

// The search with every trial solved by solve_fixed with these settings.
Result<solve::Trajectory> search_time_of_flight(const config::Config& config,
                                                const solve::SolverSettings& settings = {});

// The same search with the trial solve replaced (to observe or script the trials).
Result<solve::Trajectory> search_time_of_flight(const config::Config& config,
                                                const TrialSolve& trial);

// The same search with the trials run as `options` says.
Result<solve::Trajectory> search_time_of_flight(const config::Config& config,
                                                const TrialSolve& trial,
                                                const SearchOptions& options);

}  // namespace tarvo_core::search
