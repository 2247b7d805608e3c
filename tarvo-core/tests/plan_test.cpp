// plan_landing with the nodes method: default options keep the fixed solve and the search bit
// for bit, the thrust-pointing limit of the environment, and high accuracy.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "solve_program.hpp"
#include "tarvo_core/plan.hpp"
#include "test_support.hpp"

namespace {

using test_support::same_bits;
using test_support::small_landing;
using namespace tarvo_core;
using plan::Accuracy;
using plan::Options;
using plan::plan_landing;
using search::TrialReport;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kDegrees = 57.29577951308232;

Options at(Accuracy accuracy) {
    Options options;
    options.accuracy = accuracy;
    return options;
}

double dot(const config::Vec3& a, const config::Vec3& b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// With default options, or an angle of 90 degrees or more (then with any gravity), the plan is
// the fixed solve or the search, bit for bit; its iterations count every solve, also of a
// failed trial (whose report carries no iterations).
TEST(PlanLanding, DefaultOptionsGiveTheFixedSolveAndTheSearch) {
    for (const config::Vec3& gravity : {config::Vec3{0.0, 0.0, -3.71}, config::Vec3{}}) {
        for (const std::optional<double> tof : {std::optional(40.0), std::optional<double>()}) {
            config::Config config = small_landing(tof);
            config.environment.gravity = gravity;
            const auto solved = tof ? solve::solve_fixed(config, *tof)
                                    : search::search_time_of_flight(config);
            ASSERT_TRUE(solved.ok());
            for (const double angle : {90.0, 200.0, kInf}) {
                config.environment.max_angle_deg = angle;
                std::vector<TrialReport> trials;
                Options options;
                options.observe = [&](const TrialReport& r) { trials.push_back(r); };
                const plan::Outcome outcome = plan_landing(config, options);
                ASSERT_TRUE(outcome.trajectory.ok()) << angle;
                const solve::Trajectory& t = outcome.trajectory.value();
                EXPECT_TRUE(same_bits(t.z_values, solved.value().z_values)) << angle;
                EXPECT_TRUE(same_bits(t.s_values, solved.value().s_values)) << angle;
                EXPECT_EQ(outcome.time_of_flight, solved.value().time_of_flight);
                EXPECT_EQ(outcome.miss_distance, 0.0);
                ASSERT_EQ(trials.size(), tof ? 1u : 36u);
                EXPECT_EQ(trials.front().ok, tof.has_value());  // 1 s, the search's first, fails
                EXPECT_EQ(trials.back().time_of_flight, outcome.time_of_flight);
                std::uint64_t iterations = 0;
                for (const TrialReport& trial : trials) {
                    std::uint32_t used = trial.iterations;
                    if (!trial.ok)
                        (void)solve::solve_formulated(config, trial.time_of_flight, {}, {}, &used);
                    iterations += used;
                }
                EXPECT_EQ(outcome.iterations, iterations);
            }
        }
    }
}

// At every node the thrust lies within the angle of the direction opposite to gravity, and
// the limit binds somewhere (the unlimited landings tilt the thrust past 90 degrees).
TEST(ThrustPointing, AngleHoldsAtEveryNode) {
    const config::Vec3 mars{0.0, 0.0, -3.71};
    const struct {
        double angle_deg;
        config::Vec3 gravity;
        double glide_slope_deg;
        std::optional<double> tof;
        Accuracy accuracy = Accuracy::solver_default;
    } cases[] = {{60.0, mars, 0.0, std::nullopt},
                 {15.0, mars, 0.0, std::nullopt},
                 {20.0, {0.5, -0.3, -3.71}, 0.0, std::nullopt},
                 {20.0, mars, 10.0, std::nullopt},
                 {30.0, mars, 0.0, 70.0},
                 {30.0, mars, 0.0, std::nullopt, Accuracy::high}};
    for (const auto& c : cases) {
        config::Config config = small_landing(c.tof);
        config.environment = {c.gravity, c.glide_slope_deg, c.angle_deg};
        const plan::Outcome outcome = plan_landing(config, at(c.accuracy));
        ASSERT_TRUE(outcome.trajectory.ok()) << outcome.trajectory.error().text;
        const solve::Trajectory& t = outcome.trajectory.value();
        const double g = std::sqrt(dot(c.gravity, c.gravity));
        const config::Vec3 up{-c.gravity[0] / g, -c.gravity[1] / g, -c.gravity[2] / g};
        const double cosine = std::cos(c.angle_deg / kDegrees);
        double widest = 0.0;
        for (std::size_t k = 0; k < t.u_values.size(); ++k) {
            const config::Vec3& u = t.u_values[k];
            EXPECT_GE(dot(up, u), cosine * t.s_values[k] - 1e-7) << c.angle_deg << " node " << k;
            const double along = dot(up, u) / std::sqrt(dot(u, u));
            widest = std::fmax(widest, std::acos(std::fmin(along, 1.0)) * kDegrees);
        }
        EXPECT_LE(widest, c.angle_deg + 1e-3);
        EXPECT_GE(widest, c.angle_deg - 0.5);
    }
}

TEST(ThrustPointingLimit, InvalidLimitsFailBeforeAnySolveWithATextNamingTheAngle) {
    const std::string angle_rule =
        " is not a valid pointing limit: the angle between the thrust and the vertical must be "
        "0 degrees or more (90 or more for no limit)";
    const std::string no_direction = " is not a valid pointing limit: the thrust points against "
                                     "gravity, and gravity = ";
    const config::Vec3 mars{0.0, 0.0, -3.71};
    const struct { double angle; config::Vec3 gravity; std::string text; } cases[] = {
        {-5.0, mars, "max_angle_deg = -5" + angle_rule},
        {kNaN, mars, "max_angle_deg = NaN" + angle_rule},
        {-kInf, mars, "max_angle_deg = -inf" + angle_rule},
        {10.0, {0.0, 0.0, 0.0}, "max_angle_deg = 10" + no_direction + "(0, 0, 0) gives no direction"},
        {0.5, {kNaN, 0.0, -1.0}, "max_angle_deg = 0.5" + no_direction + "(NaN, 0, -1) gives no direction"},
        {45.0, {1e300, kInf, 0.0}, "max_angle_deg = 45" + no_direction + "(1e+300, inf, 0) gives no direction"},
    };
    for (const auto& c : cases) {
        for (const std::optional<double> tof : {std::optional(60.0), std::optional<double>()}) {
            config::Config config = small_landing(tof);
            config.environment.max_angle_deg = c.angle;
            config.environment.gravity = c.gravity;
            int trials = 0;
            Options options;
            options.unreachable = plan::Unreachable::closest;  // not an unreachable target
            options.observe = [&](const TrialReport&) { ++trials; };
            const plan::Outcome outcome = plan_landing(config, options);
            ASSERT_FALSE(outcome.trajectory.ok());
            EXPECT_EQ(outcome.trajectory.error().kind, FailureKind::invalid_input);
            EXPECT_EQ(outcome.trajectory.error().text, c.text);
            EXPECT_EQ(outcome.note, "");
            EXPECT_EQ(trials, 0);
        }
    }
}

// The final log-mass at high accuracy lies within 1e-5 of the optimum that tolerances of
// 1e-12 reach, where the default settings stop up to 1e-3 short of it.
TEST(HighAccuracy, FinalLogMassWithinOneHundredThousandthOfTheOptimum) {
    config::Config config;  // the default vehicle, n = 100
    const solve::SolverSettings tight{.tol_gap_abs = 1e-12, .tol_gap_rel = 1e-12,
                                      .tol_feas = 1e-12, .tol_ktratio = 1e-12,
                                      .max_iter = 1000};
    for (const double tof : {60.0, 70.0, 80.0, 90.0, 100.0}) {
        const auto optimum = solve::solve_fixed(config, tof, tight);
        config.solver.time_of_flight = tof;
        const plan::Outcome outcome = plan_landing(config, at(Accuracy::high));
        ASSERT_TRUE(optimum.ok() && outcome.trajectory.ok()) << tof;
        const solve::Trajectory& t = outcome.trajectory.value();
        EXPECT_NEAR(t.objective, optimum.value().objective, 1e-5) << tof;
        EXPECT_EQ(t.status, "Solved");
        EXPECT_LE(t.solver.iterations, 40u);
        // The gap is reported in log-mass, as for the default solve, not in the weighted cost.
        EXPECT_LE(std::fabs(t.solver.gap_abs), 1e-8) << tof;
        EXPECT_LE(std::fmin(t.solver.gap_abs, t.solver.gap_rel), 1e-10) << tof;
        EXPECT_LE(std::fmax(t.solver.res_primal, t.solver.res_dual), 1e-10) << tof;
    }
}

}  // namespace
