// The solves of one plan. Every solve goes through PlanTrials, so that the plan counts the
// interior-point iterations of all of them (failed and unused ones included) and tells the
// observer of each trial it uses. The method of the options decides what one trial at a
// fixed time of flight is, and how the time of flight is searched.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "landing_program.hpp"
#include "tarvo_core/config.hpp"
#include "tarvo_core/plan_types.hpp"
#include "tarvo_core/result.hpp"
#include "tarvo_core/search.hpp"
#include "tarvo_core/solve.hpp"

namespace tarvo_core::plan {

// What a search maximises over the trials that succeed; empty: the final mass.
using Score = std::function<double(const solve::Trajectory&)>;

// The program of the continuous method's first solve and of its search trials: the program
// without its fuel limit, unless it minimises the distance to the target. Where the limit
// does not bind, its optimum is the program's; where it does, its final mass below the dry
// mass measures the fuel lacking, and the flyable second solve, whose thrust bounds are less
// conservative, may still land within the limit.
LandingProgram first_program(const LandingProgram& program);

class PlanTrials {
public:
    PlanTrials(const config::Config& config, const Options& options)
        : config_(config), options_(options) {}

    // The landing at tof, reported to the observer: one solve of the program for the nodes
    // method, a flyable landing (flyable.cpp) for the continuous method, from a first solve
    // of the program without its fuel limit (see first_program).
    Result<solve::Trajectory> fixed(double tof, const LandingProgram& program);

    // The time-of-flight search over the program, maximising `score`: the search of the fixed
    // program for the nodes method, the window search (window_search.cpp) for the continuous
    // method.
    Result<solve::Trajectory> search(const LandingProgram& program, const Score& score = {});

    // Iterations of every solve so far.
    std::uint64_t iterations() const { return iterations_.load(); }

    // True when every trial used so far failed, and at least one because it found no landing
    // (a solver status, or short of fuel), not because of the node count or a refused program.
    bool nothing_reached() const { return succeeded_ == 0 && rejected_ > 0; }

    bool cancelled() const {
        return options_.cancel != nullptr && options_.cancel->load(std::memory_order_relaxed);
    }

private:
    // One solve of the program; safe to call from several threads at once.
    Result<solve::Trajectory> solve(double tof, const LandingProgram& program);
    // The flyable landing at tof from `first`, the solve of first_program(program) at tof.
    Result<solve::Trajectory> flyable(double tof, const LandingProgram& program,
                                      solve::Trajectory first);
    Result<solve::Trajectory> window_search(const LandingProgram& program, const Score& score);
    void use(const search::TrialReport& report);

    const config::Config& config_;
    const Options& options_;
    std::atomic<std::uint64_t> iterations_{0};
    std::size_t succeeded_ = 0;  // trials used, counted on the planning thread
    std::size_t rejected_ = 0;
};

}  // namespace tarvo_core::plan
