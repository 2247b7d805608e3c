// The closest landing to an unreachable target, checked against a brute-force scan of landing
// points on the target's horizontal plane, each planned as an ordinary landing.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>

#include "tarvo_core/plan.hpp"
#include "test_support.hpp"

namespace {

using test_support::same_bits;
using test_support::small_landing;
using namespace tarvo_core;
using plan::Options;
using plan::Outcome;
using plan::plan_landing;
using plan::Unreachable;

// A lander with 400 kg of fuel: it cannot reach a target 7.6 km downrange.
config::Config short_of_fuel(double target_x, std::optional<double> tof) {
    config::Config config = small_landing(tof);
    config.spacecraft.fuel = 400.0;
    config.spacecraft.target_position = {target_x, 0.0, 0.0};
    return config;
}

Options closest() {
    Options options;
    options.unreachable = Unreachable::closest;
    return options;
}

double distance(const config::Vec3& a, const config::Vec3& b) {
    return std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]);
}

// The distance from the target of the nearest point of a square grid (spacing h, 2 half + 1
// points a side, on the target's horizontal plane) on which the configuration lands when
// planned as an ordinary landing; infinity when it lands on none.
double nearest_landing_on_grid(config::Config config, double h, int half) {
    const config::Vec3 target = config.spacecraft.target_position;
    double nearest = INFINITY;
    for (int i = -half; i <= half; ++i) {
        for (int j = -half; j <= half; ++j) {
            config.spacecraft.target_position = {target[0] + h * i, target[1] + h * j, target[2]};
            if (plan_landing(config).trajectory.ok()) {
                nearest = std::fmin(nearest, distance(config.spacecraft.target_position, target));
            }
        }
    }
    return nearest;
}

// A closest landing on the target's plane, `miss_distance` from it; with a grid step h, no
// point of the grid (2 half + 1 points a side) lands nearer, and one within h of it does.
void expect_closest_landing(const config::Config& config, const Outcome& outcome, double h = 0.0,
                            int half = 0) {
    ASSERT_TRUE(outcome.trajectory.ok()) << outcome.trajectory.error().text;
    const solve::Trajectory& t = outcome.trajectory.value();
    const config::Vec3& target = config.spacecraft.target_position;
    EXPECT_NEAR(t.positions.back()[2], target[2], 1e-6);
    EXPECT_NEAR(distance(t.positions.back(), target), outcome.miss_distance, 1e-9);
    EXPECT_EQ(t.time_of_flight, outcome.time_of_flight);
    EXPECT_NE(outcome.note.find("target out of reach"), std::string::npos) << outcome.note;
    if (h > 0.0) {
        const double grid = nearest_landing_on_grid(config, h, half);
        EXPECT_GE(grid, outcome.miss_distance * (1.0 - 1e-6));
        EXPECT_LE(grid, outcome.miss_distance + h);
    }
}

// Its iterations are those of the failed plan and of every trial of both steps.
TEST(ClosestLanding, FixedTimeOfFlightMatchesABruteForceGrid) {
    const config::Config config = short_of_fuel(7500.0, 80.0);
    std::uint64_t used = 0;
    Options options = closest();
    options.observe = [&](const search::TrialReport& report) { used += report.iterations; };
    const Outcome outcome = plan_landing(config, options);
    expect_closest_landing(config, outcome, 20.0, 7);
    const Outcome fail = plan_landing(config);
    EXPECT_GT(fail.iterations, 0u);
    EXPECT_EQ(outcome.iterations, fail.iterations + used);
    EXPECT_GT(used, outcome.trajectory.value().solver.iterations);
    EXPECT_EQ(outcome.time_of_flight, 80.0);
    char note[128];
    std::snprintf(note, sizeof note, "target out of reach in 80 s: landed %.1f m from it, the "
                  "closest reachable point", outcome.miss_distance);
    EXPECT_EQ(outcome.note, note);
    EXPECT_GT(outcome.miss_distance, 50.0);  // well out of reach, well inside the grid
}

TEST(ClosestLanding, SearchedTimeOfFlightMatchesABruteForceGrid) {
    // Near the edge of its reach the lander reaches a point only within a few seconds of
    // 87 s: a bracket fine enough for the brute force's searches to find them.
    config::Config config = short_of_fuel(7600.0, std::nullopt);
    config.solver.tof_min = 80.0;
    config.solver.tof_max = 95.0;
    double nearest = 0.0;  // the distance of the first step's landing, the last scored by it
    Options options = closest();
    options.observe = [&](const search::TrialReport& trial) {
        if (std::isfinite(trial.score) && trial.score < 0.0) nearest = -trial.score;
    };
    const Outcome outcome = plan_landing(config, options);
    expect_closest_landing(config, outcome, 15.0, 2);
    EXPECT_EQ(outcome.note.rfind("target out of reach: landed ", 0), 0u) << outcome.note;
    // The fuel-optimal step may land up to 1e-6 of that distance farther out, and it does.
    EXPECT_GT(outcome.miss_distance, nearest * (1.0 + 0.5e-6));
    EXPECT_LT(outcome.miss_distance, nearest * (1.0 + 1.1e-6));
    EXPECT_GT(outcome.miss_distance, 10.0);
    EXPECT_NEAR(outcome.trajectory.value().final_mass, 1600.0, 1e-3);  // all the fuel spent
}

// 7550 m is reachable only between 85.4 and 89.4 s, which the scan of the automatic bracket
// (3.5 to 166.7 s, 13.6 s apart) steps over: the closest landing then lands on the target.
TEST(ClosestLanding, ReachesATargetTheScanSteppedOver) {
    const config::Config config = short_of_fuel(7550.0, std::nullopt);
    ASSERT_FALSE(plan_landing(config).trajectory.ok());
    const Outcome outcome = plan_landing(config, closest());
    ASSERT_TRUE(outcome.trajectory.ok());
    EXPECT_LT(outcome.miss_distance, 1e-3);
    EXPECT_EQ(outcome.note, "no landing on the target was found (infeasible: no feasible "
                            "time-of-flight in [3.536, 166.667]); the closest landing reaches it");
    EXPECT_GT(outcome.time_of_flight, 85.4);
    EXPECT_LT(outcome.time_of_flight, 89.4);
}

TEST(ClosestLanding, ReachableTargetGivesTheFailModeLanding) {
    for (const auto& config : {short_of_fuel(5000.0, 80.0), short_of_fuel(5000.0, std::nullopt)}) {
        const Outcome fail = plan_landing(config);
        const Outcome near = plan_landing(config, closest());
        ASSERT_TRUE(fail.trajectory.ok() && near.trajectory.ok());
        EXPECT_TRUE(same_bits(near.trajectory.value().z_values, fail.trajectory.value().z_values));
        EXPECT_EQ(near.time_of_flight, fail.time_of_flight);
        EXPECT_EQ(near.miss_distance, 0.0);
        EXPECT_EQ(near.note, "");
        EXPECT_EQ(near.iterations, fail.iterations);
    }
}

// The glide-slope cone has its apex at the origin, so the origin is the only reachable point
// of the ground, at every time of flight: the closest landing is the fuel-optimal landing on it.
TEST(ClosestLanding, FlatDistanceLeavesTheFuelSearchToTheSecondStep) {
    config::Config config = small_landing(std::nullopt);
    config.environment.glide_slope_angle_deg = 30.0;
    config.spacecraft.target_position = {600.0, 800.0, 0.0};
    const Outcome outcome = plan_landing(config, closest());
    expect_closest_landing(config, outcome);
    EXPECT_NEAR(outcome.miss_distance, 1000.0, 1e-3);
    config.spacecraft.target_position = {0.0, 0.0, 0.0};
    const Outcome origin = plan_landing(config);
    ASSERT_TRUE(origin.trajectory.ok());
    EXPECT_NEAR(outcome.trajectory.value().final_mass, origin.trajectory.value().final_mass, 1e-3);
    EXPECT_NEAR(outcome.time_of_flight, origin.time_of_flight, 0.05);
}

TEST(ClosestLanding, FailsWhenNoPointOfThePlaneCanBeReached) {
    config::Config config = short_of_fuel(7500.0, 1.0);  // one second cannot stop the vehicle
    const Outcome fail = plan_landing(config);
    ASSERT_FALSE(fail.trajectory.ok());
    const Outcome near = plan_landing(config, closest());
    ASSERT_FALSE(near.trajectory.ok());
    EXPECT_EQ(near.trajectory.error().text, fail.trajectory.error().text);
    EXPECT_EQ(near.note.rfind("no closest landing: no point of the target's horizontal plane is "
                              "reachable either (solver status: ", 0), 0u) << near.note;
    EXPECT_EQ(near.miss_distance, 0.0);

    config.environment.gravity = {0.0, 0.0, 0.0};
    const Outcome weightless = plan_landing(config, closest());
    ASSERT_FALSE(weightless.trajectory.ok());
    EXPECT_EQ(weightless.note, "no closest landing: gravity gives the target no horizontal plane");
}

TEST(ClosestLanding, CancelledPlanRunsNoClosestSteps) {
    std::atomic<bool> cancel{false};
    int trials = 0;
    Options options = closest();
    options.cancel = &cancel;
    options.observe = [&](const search::TrialReport&) { cancel = ++trials > 0; };
    const Outcome outcome = plan_landing(short_of_fuel(7600.0, std::nullopt), options);
    ASSERT_FALSE(outcome.trajectory.ok());
    EXPECT_EQ(outcome.trajectory.error().text, solve::cancelled_text());
    EXPECT_EQ(trials, 13);  // the scan of the plain search, nothing after it
}

}  // namespace
