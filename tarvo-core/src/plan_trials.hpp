// The solves of one plan. Every solve goes through PlanTrials, so that the plan counts the
// interior-point iterations of all of them (failed and unused ones included) and tells the
// observer of each trial it uses.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "landing_program.hpp"
#include "tarvo_core/config.hpp"
#include "tarvo_core/plan.hpp"
#include "tarvo_core/result.hpp"
#include "tarvo_core/search.hpp"
#include "tarvo_core/solve.hpp"

namespace tarvo_core::plan {

class PlanTrials {
public:
    PlanTrials(const config::Config& config, const Options& options)
        : config_(config), options_(options) {}

    // One solve of the program at tof, reported to the observer.
    Result<solve::Trajectory> fixed(double tof, const LandingProgram& program);

    // The time-of-flight search over the program, maximising `score` (empty: the final mass).
    Result<solve::Trajectory> search(
        const LandingProgram& program,
        const std::function<double(const solve::Trajectory&)>& score = {});

    // Iterations of every solve so far.
    std::uint64_t iterations() const { return iterations_.load(); }

    // True when every trial used so far failed, and at least one because the solver found
    // no landing (a solver status), not because of the node count or a refused program.
    bool nothing_reached() const { return succeeded_ == 0 && rejected_ > 0; }

    bool cancelled() const {
        return options_.cancel != nullptr && options_.cancel->load(std::memory_order_relaxed);
    }

private:
    Result<solve::Trajectory> solve(double tof, const LandingProgram& program);
    void use(const search::TrialReport& report);

    const config::Config& config_;
    const Options& options_;
    std::atomic<std::uint64_t> iterations_{0};
    std::size_t succeeded_ = 0;  // trials used, counted on the planning thread
    std::size_t rejected_ = 0;
};

}  // namespace tarvo_core::plan
