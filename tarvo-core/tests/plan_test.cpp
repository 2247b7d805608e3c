#include <atomic>
#include <vector>

#include <gtest/gtest.h>

#include "solve_program.hpp"
#include "tarvo_core/plan.hpp"
#include "test_support.hpp"

namespace {

using test_support::same_bits;
using test_support::small_landing;
using tarvo_core::config::Config;
using tarvo_core::plan::Options;
using tarvo_core::plan::plan_landing;
using tarvo_core::search::TrialReport;

TEST(PlanLanding, DefaultOptionsGiveTheFixedSolveAndTheSearch) {
    const Config fixed = small_landing(40.0);
    const auto direct = tarvo_core::solve::solve_fixed(fixed, 40.0);
    const auto planned = plan_landing(fixed);
    ASSERT_TRUE(planned.trajectory.ok());
    EXPECT_TRUE(same_bits(planned.trajectory.value().z_values, direct.value().z_values));
    EXPECT_EQ(planned.time_of_flight, 40.0);
    EXPECT_EQ(planned.iterations, direct.value().solver_info.iterations);
    EXPECT_EQ(planned.miss_distance, 0.0);

    const Config searched = small_landing(std::nullopt);
    const auto search = tarvo_core::search::search_time_of_flight(searched);
    std::vector<TrialReport> trials;
    Options options;
    options.observe = [&](const TrialReport& report) { trials.push_back(report); };
    const auto outcome = plan_landing(searched, options);
    ASSERT_TRUE(outcome.trajectory.ok());
    EXPECT_TRUE(same_bits(outcome.trajectory.value().s_values, search.value().s_values));
    EXPECT_EQ(outcome.time_of_flight, search.value().time_of_flight);
    ASSERT_EQ(trials.size(), 36u);
    EXPECT_EQ(trials.back().time_of_flight, outcome.time_of_flight);
    // Every solve counts, also a failed trial (whose report carries no iterations).
    std::uint64_t iterations = 0;
    for (const TrialReport& trial : trials) {
        std::uint32_t solved = trial.iterations;
        if (!trial.ok) {
            (void)tarvo_core::solve::solve_formulated(searched, trial.time_of_flight, {}, {},
                                                      &solved);
        }
        iterations += solved;
    }
    EXPECT_FALSE(trials.front().ok);  // the 1 s at the start of the bracket cannot land
    EXPECT_EQ(outcome.iterations, iterations);
}

TEST(PlanLanding, CancellationFailsWithTheCancelledText) {
    std::atomic<bool> cancel{true};
    Options options;
    options.cancel = &cancel;
    for (const auto tof : {std::optional<double>(40.0), std::optional<double>()}) {
        const auto outcome = plan_landing(small_landing(tof), options);
        ASSERT_FALSE(outcome.trajectory.ok());
        EXPECT_EQ(outcome.trajectory.error().text, tarvo_core::solve::cancelled_text());
    }
}

}  // namespace
