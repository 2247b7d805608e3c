// The fixed-horizon solve: a real landing and its lists, failures as values.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstddef>
#include <limits>
#include <string>
#include <vector>

#include "assemble.hpp"
#include "tarvo_core/solve.hpp"

namespace {

using namespace tarvo_core;
using config::Config;
using config::Vec3;
using solve::solve_fixed;

constexpr double kFeasibleTof = 60.0;  // the default vehicle lands in about 40 .. 150 s

// The lists are read from the solution's layout: the thrust from u and the log-mass, the times
// from the node spacing. A cancel flag that stays down changes no number of the solve.
TEST(SolveFixed, DefaultVehicleLandsWithConsistentLists) {
    const Config config;
    const auto result = solve_fixed(config, kFeasibleTof);
    ASSERT_TRUE(result.ok()) << result.error().text;
    const auto& t = result.value();
    const auto& craft = config.spacecraft;
    const std::size_t n = config.solver.n;
    EXPECT_TRUE(t.status == "Solved" || t.status == "AlmostSolved") << t.status;
    EXPECT_GT(t.solver.iterations, 5u);  // the solver's figures are passed on
    EXPECT_LT(t.solver.iterations, 200u);
    EXPECT_GT(t.solver.solve_time, 0.0);
    EXPECT_LE(std::fmin(std::fabs(t.solver.gap_abs), t.solver.gap_rel), 1e-8);
    EXPECT_LE(std::fmax(t.solver.res_primal, t.solver.res_dual), 1e-8);
    ASSERT_EQ(t.thrusts.size(), n);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_NEAR(t.positions.front()[i], craft.initial_position[i], 2.4e-3);
        EXPECT_NEAR(t.velocities.front()[i], craft.initial_velocity[i], 4e-5);
        EXPECT_NEAR(t.positions.back()[i], craft.target_position[i], 2.4e-3);
        EXPECT_NEAR(t.velocities.back()[i], craft.target_velocity[i], 4e-5);
    }
    EXPECT_GT(t.final_mass, craft.wet_mass - craft.fuel);
    EXPECT_EQ(t.final_mass, std::exp(t.objective));
    EXPECT_EQ(t.objective, t.z_values.back());
    EXPECT_EQ(t.time_of_flight, kFeasibleTof);
    EXPECT_DOUBLE_EQ(t.time_points.back(), kFeasibleTof * 99.0 / 100.0);
    const double dt = kFeasibleTof / static_cast<double>(n);
    for (std::size_t k = 0; k < n; ++k) {
        const Vec3& u = t.u_values[k];
        const double thrust = std::hypot(u[0], u[1], u[2]) * std::exp(t.z_values[k]);
        EXPECT_NEAR(t.thrusts[k], thrust, 1e-9 * thrust) << k;
        EXPECT_EQ(t.normalized_thrusts[k], t.thrusts[k] / craft.real_max_thrust) << k;
        EXPECT_GE(t.s_values[k], std::hypot(u[0], u[1], u[2]) - 1e-6) << k;
        EXPECT_LE(t.normalized_thrusts[k], craft.max_thrust_pct + 1e-3) << k;
        if (k + 1 < n) {  // built for this tof: velocity steps integrate u and g over dt
            const double model = dt / 2 * (t.u_values[k][2] + t.u_values[k + 1][2]) +
                                 dt * config.environment.gravity[2];
            EXPECT_NEAR(t.velocities[k + 1][2] - t.velocities[k][2], model, 1e-6) << k;
        }
    }
    const std::atomic<bool> not_cancelled{false};
    const auto again = solve_fixed(config, kFeasibleTof, {.cancel = &not_cancelled});
    ASSERT_TRUE(again.ok());
    EXPECT_EQ(t.z_values, again.value().z_values);
    EXPECT_EQ(t.u_values, again.value().u_values);
    EXPECT_EQ(t.solver.iterations, again.value().solver.iterations);
}

// A solver status that is no landing is a failure with the status beside its text. A time
// of flight, node count or thrust fractions no landing can mean are refused before any solve
// (and before a cancel flag), naming the field and its value; a NaN fraction keeps the
// verdict of the solver.
TEST(SolveFixed, FailuresComeBackAsValues) {
    const auto too_short = solve_fixed(Config{}, 1.0);
    EXPECT_EQ(too_short.error().kind, FailureKind::solver_status);
    EXPECT_EQ(too_short.error().text, "solver status: " + too_short.error().status);

    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const std::string rule = "invalid configuration: ";
    const std::string tof_rule = rule + "solver.time_of_flight must be positive and finite, not ";
    const struct { std::uint64_t n; double tof, min_pct, max_pct; std::string text; } cases[] = {
        {0, kFeasibleTof, 0.2, 0.8, *assemble::node_count_error(0)},
        {0, -1.0, -1.0, 0.8, *assemble::node_count_error(0)},  // the node count first
        {100, -45.0, 0.2, 0.8, tof_rule + "-45"},
        {100, 0.0, 0.2, 0.8, tof_rule + "0"},
        {100, nan, -1.0, 0.8, tof_rule + "NaN"},  // the time of flight before the fractions
        {100, inf, 0.2, 0.8, tof_rule + "inf"},
        {100, -inf, 0.2, 0.8, tof_rule + "-inf"},
        {100, kFeasibleTof, -1.0, 0.8, rule + "spacecraft.min_thrust_pct must be 0 or more, not -1"},
        {100, kFeasibleTof, 0.2, -1.0, rule + "spacecraft.max_thrust_pct must be 0 or more, not -1"},
        {100, kFeasibleTof, 0.9, 0.8,
         rule + "spacecraft.min_thrust_pct (0.9) must not exceed spacecraft.max_thrust_pct (0.8)"},
    };
    const std::atomic<bool> cancel{true};
    for (const auto& c : cases) {
        Config config;
        config.solver.n = c.n;
        config.spacecraft.min_thrust_pct = c.min_pct;
        config.spacecraft.max_thrust_pct = c.max_pct;
        for (const std::atomic<bool>* flag : {static_cast<const std::atomic<bool>*>(nullptr), &cancel}) {
            const auto refused = solve_fixed(config, c.tof, {.cancel = flag});
            ASSERT_FALSE(refused.ok()) << c.text;
            EXPECT_EQ(refused.error().kind, FailureKind::invalid_input);
            EXPECT_EQ(refused.error().text, c.text);
        }
    }
    Config not_a_number;
    not_a_number.spacecraft.min_thrust_pct = nan;
    EXPECT_EQ(solve_fixed(not_a_number, kFeasibleTof).error().kind, FailureKind::solver_status);
}

}  // namespace
