// The time-of-flight search: scripted trials pin the scan, the refinement, failures, the
// concurrent rounds and the score; real solves the settings, cancellation and the result.
#include <atomic>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "assemble.hpp"
#include "tarvo_core/search.hpp"

namespace {

using tarvo_core::Failure;
using tarvo_core::FailureKind;
using tarvo_core::Result;
using tarvo_core::config::Config;
using tarvo_core::solve::Trajectory;

constexpr double kGolden = 0.618033988749895;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
using Mass = std::optional<double>;  // nullopt: the trial fails

// The search with a scripted trial: mass(call index, t). Records every trial time.
struct Scripted {
    std::vector<double> t;
    std::optional<Result<Trajectory>> out;
    Scripted(const Config& config, const std::function<Mass(std::size_t, double)>& mass) {
        out = tarvo_core::search::search_time_of_flight(
            config, [&](const Config&, double tof) -> Result<Trajectory> {
                t.push_back(tof);
                const Mass m = mass(t.size() - 1, tof);
                if (!m) return Failure{FailureKind::solver_status, "scripted failure", "Unsolved"};
                Trajectory trajectory;
                trajectory.final_mass = *m;
                return trajectory;
            });
    }
};

Config bracket(double lo, double hi) {
    Config config;
    config.solver.tof_min = lo;
    config.solver.tof_max = hi;
    return config;
}

// Grid point i scores grid[i]; every refinement and final trial scores `later`.
std::function<Mass(std::size_t, double)> on_grid(std::vector<Mass> grid, Mass later = 1.0) {
    return [=](std::size_t call, double) { return call < 13 ? grid[call] : later; };
}

TEST(SearchScan, BestGridPointSetsTheRefinementInterval) {
    const Mass no;
    const struct { std::vector<Mass> grid; double a, b; } cases[] = {
        {{9, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}, 10, 20},
        {{1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 9}, 120, 130},
        {{1, 1, 1, 1, 1, 9, 1, 1, 1, 1, 1, 1, 1}, 50, 70},
        {{1, 1, 1, 7, 1, 1, 1, 7, 1, 1, 1, 1, 7}, 30, 50},  // ties: the first
        {{no, no, -5, no, no, no, no, no, no, no, no, no, no}, 20, 40},
        {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, kNaN}, 110, 130},
        {{no, kNaN, 5, 6, 7, 8, 9, 9, 9, 9, 9, 9, 9}, 10, 30},
    };
    for (const auto& c : cases) {
        const Scripted s(bracket(10, 130), on_grid(c.grid));
        ASSERT_EQ(s.t.size(), 36u);
        EXPECT_NEAR(s.t[13], c.b - (c.b - c.a) * kGolden, 1e-12) << c.a << " " << c.b;
        EXPECT_NEAR(s.t[14], c.a + (c.b - c.a) * kGolden, 1e-12) << c.a << " " << c.b;
    }
}

TEST(SearchScan, NoFeasibleGridPointEndsAfterThirteenTrials) {
    Config nan_wet, nan_flow, no_dry, no_thrust, little_fuel;
    nan_wet.spacecraft.wet_mass = kNaN;  // maxNum: dry mass floored at 1
    nan_flow.spacecraft.fuel_consumption = kNaN;  // maxNum: flow floored at 1e-9
    no_dry.spacecraft.wet_mass = 1700.0;  // dry 1: lo = 96000 / 19200
    no_dry.spacecraft.initial_velocity = {0.0, 0.0, -96000.0};
    no_thrust.spacecraft.real_max_thrust = 0.0;  // acceleration floored at 0.001
    no_thrust.spacecraft.initial_velocity = {0.0, 0.0, -3.0};
    little_fuel.spacecraft.wet_mass = 301.0;  // fuel for 1/2.4 s: hi = 4 * lo
    little_fuel.spacecraft.fuel = 1.0;
    const struct { Config config; const char* bounds; } cases[] = {
        {Config{}, "[1.000, 708.333]"}, {nan_wet, "[1.000, 708.333]"},
        {nan_flow, "[1.000, 1700000000000.000]"}, {no_dry, "[5.000, 708.333]"},
        {no_thrust, "[3000.000, 1700000000000.000]"}, {little_fuel, "[1.000, 4.000]"},
        {bracket(1.0005, 2.0005), "[1.000, 2.001]"}};  // rounds the exact binary value
    const auto fail = [](std::size_t, double) { return Mass(); };
    for (const auto& c : cases) {
        const Scripted s(c.config, fail);
        EXPECT_EQ(s.t.size(), 13u);
        EXPECT_EQ(s.out->error().kind, FailureKind::infeasible);
        EXPECT_EQ(s.out->error().text,
                  std::string("infeasible: no feasible time-of-flight in ") + c.bounds);
    }
    const Scripted widest(bracket(1e300, std::numeric_limits<double>::max()), fail);
    EXPECT_EQ(widest.out->error().text.size(), 43u + 301 + 4 + 2 + 309 + 4 + 1);  // every digit
    Config no_nodes;
    no_nodes.solver.n = 0;  // the node-count text at once, not "infeasible"
    const Scripted rejected(no_nodes, [](std::size_t, double) { return 1.0; });
    EXPECT_TRUE(rejected.t.empty());
    EXPECT_EQ(rejected.out->error().kind, FailureKind::invalid_input);
    EXPECT_EQ(rejected.out->error().text, *tarvo_core::assemble::node_count_error(0));
}

// A bracket the search would read (both bounds set) that is not a span of positive, finite
// times is refused before any trial, naming the bound; a single bound is not read.
TEST(SearchScan, ImpossibleBracketsAreRefusedBeforeAnyTrial) {
    const std::string rule = "invalid configuration: solver.";
    const struct { Config config; std::string text; } cases[] = {
        {bracket(-50, 90), rule + "tof_min must be positive and finite, not -50"},
        {bracket(0.0, 90), rule + "tof_min must be positive and finite, not 0"},
        {bracket(kNaN, 80), rule + "tof_min must be positive and finite, not NaN"},
        {bracket(10, kInf), rule + "tof_max must be positive and finite, not inf"},
        {bracket(10, -kInf), rule + "tof_max must be positive and finite, not -inf"},
        {bracket(130, 10), rule + "tof_min (130) must be less than solver.tof_max (10)"},
        {bracket(42.5, 42.5), rule + "tof_min (42.5) must be less than solver.tof_max (42.5)"},
    };
    for (const auto& c : cases) {
        const Scripted s(c.config, [](std::size_t, double) { return 1.0; });
        EXPECT_TRUE(s.t.empty()) << c.text;
        EXPECT_EQ(s.out->error().kind, FailureKind::invalid_input);
        EXPECT_EQ(s.out->error().text, c.text);
    }
    Config single;
    single.solver.tof_min = -50.0;  // ignored: the auto bracket applies
    EXPECT_TRUE(Scripted(single, [](std::size_t, double) { return 1.0; }).out->ok());
}

TEST(SearchRefinement, KeepsTheGoldenRatioAtEveryStep) {
    // Falling mass: the interval closes on a = 10; rising: on b = 130. The offset of each
    // new point from that end shrinks by the golden ratio, and t* is the last new point.
    const struct { std::function<Mass(std::size_t, double)> mass; double end; std::size_t first; }
        cases[] = {{[](std::size_t, double t) { return -t; }, 10.0, 13},
                   {[](std::size_t, double t) { return t; }, 130.0, 14}};
    for (const auto& c : cases) {
        const Scripted s(bracket(10, 130), c.mass);
        ASSERT_EQ(s.t.size(), 36u);
        double previous = std::fabs(s.t[c.first] - c.end);
        for (std::size_t call = 15; call < 35; ++call) {
            const double offset = std::fabs(s.t[call] - c.end);
            EXPECT_NEAR(offset / previous, kGolden, 1e-9) << call;
            previous = offset;
        }
        EXPECT_EQ(s.t[35], s.t[34]);
    }
    const Scripted peaked(bracket(10, 130), [](std::size_t, double t) {
        return 1500.0 - (t - 47.3) * (t - 47.3);
    });
    EXPECT_NEAR(peaked.t.back(), 47.3, 20 * std::pow(kGolden, 20));
    // The trial times follow the fixed order of operations of the grid and the steps, bit for
    // bit: the time of flight of a searched landing depends on it.
    const Scripted automatic(Config{}, [](std::size_t, double t) {
        return 1500.0 - (t - 90.1) * (t - 90.1);
    });
    EXPECT_EQ(automatic.t.back(), 90.1000191962544);
}

TEST(SearchRefinement, FailedOrNaNTrialsSteerTheInterval) {
    std::vector<Mass> grid(13, 1.0);
    grid[5] = 2.0;  // a = 50, b = 70; failures count as -inf: f1 >= f2, close on a
    const Scripted failing(bracket(10, 130), on_grid(grid, Mass()));
    EXPECT_GT(failing.t.back(), 50.0);
    EXPECT_LT(failing.t.back(), 50.0 + 20 * std::pow(kGolden, 20));
    EXPECT_EQ(failing.t.back(), failing.t[34]);  // equal values choose x1, the last new point
    EXPECT_EQ(failing.out->error().text, "scripted failure");  // the final solve's outcome
    const Scripted nan(bracket(10, 130), on_grid(grid, kNaN));  // NaN: close on b
    EXPECT_GT(nan.t.back(), 70.0 - 20 * std::pow(kGolden, 20));
    EXPECT_LT(nan.t.back(), 70.0);
    EXPECT_TRUE(nan.out->ok());
}

TEST(SearchRealSolve, SettingsReachEveryTrialAndCancellationIsTheOutcome) {
    Config config;
    config.solver.n = 10;
    const auto capped = tarvo_core::search::search_time_of_flight(config, {.max_iter = 1});
    EXPECT_EQ(capped.error().text, "infeasible: no feasible time-of-flight in [1.000, 708.333]");
    const std::atomic<bool> cancelled{true};
    const auto stopped = tarvo_core::search::search_time_of_flight(config, {.cancel = &cancelled});
    EXPECT_EQ(stopped.error().kind, FailureKind::cancelled);
    EXPECT_EQ(stopped.error().text, "solver status: CallbackTerminated");
}

// Final mass as a function of the time of flight alone, so trials can run in any order:
// a peak with failures far to the right and a NaN at one grid point.
Result<Trajectory> shaped_trial(const Config&, double tof) {
    if (tof > 115.0)
        return Failure{FailureKind::solver_status, "solver status: PrimalInfeasible",
                       "PrimalInfeasible"};
    Trajectory trajectory;
    trajectory.final_mass = tof == 20.0 ? kNaN : 1500.0 - (tof - 63.7) * (tof - 63.7);
    trajectory.time_of_flight = tof;
    return trajectory;
}

struct Observed {
    std::vector<tarvo_core::search::TrialReport> trials;
    std::size_t solved = 0;  // every trial solve, speculative ones included
    std::size_t rounds = 0;  // calls of parallel_for
    std::optional<Result<Trajectory>> out;
};

Observed search_with_width(std::size_t width,
                           std::function<double(const Trajectory&)> score = {}) {
    Observed seen;
    tarvo_core::search::SearchOptions options;
    options.width = width;
    options.score = std::move(score);
    if (width > 1) {
        options.parallel_for = [&](std::size_t count, const std::function<void(std::size_t)>& body) {
            ++seen.rounds;
            for (std::size_t i = count; i-- > 0;) body(i);  // any order must do
        };
    }
    options.observe = [&](const auto& report) { seen.trials.push_back(report); };
    seen.out = tarvo_core::search::search_time_of_flight(
        bracket(10, 130),
        [&](const Config& config, double tof) {
            ++seen.solved;
            return shaped_trial(config, tof);
        },
        options);
    return seen;
}

TEST(SearchConcurrency, EveryWidthUsesTheSameTrialsInTheSameOrder) {
    const Observed serial = search_with_width(1);
    ASSERT_EQ(serial.trials.size(), 36u);
    EXPECT_EQ(serial.solved, 36u);
    ASSERT_TRUE(serial.out->ok());
    EXPECT_EQ(serial.trials.back().time_of_flight, serial.out->value().time_of_flight);
    EXPECT_NEAR(serial.out->value().time_of_flight, 63.7, 1e-3);
    EXPECT_FALSE(serial.trials[11].ok);  // 120 s fails; its report carries the text
    EXPECT_EQ(serial.trials[11].status, "solver status: PrimalInfeasible");
    EXPECT_EQ(serial.trials[11].failure, FailureKind::solver_status);
    EXPECT_EQ(serial.trials[11].solver_status, "PrimalInfeasible");
    EXPECT_EQ(serial.trials.back().failure, std::nullopt);
    // Rounds: the grid, the two interior points, ceil(20 / d) speculative rounds of
    // 2^d - 1 trials; the final solve runs alone.
    const struct { std::size_t width, rounds, solved; } cases[] = {
        {2, 22, 36}, {3, 12, 46}, {7, 9, 61}, {15, 7, 91}};
    for (const auto& c : cases) {
        const Observed wide = search_with_width(c.width);
        ASSERT_EQ(wide.trials.size(), serial.trials.size()) << c.width;
        for (std::size_t i = 0; i < serial.trials.size(); ++i) {
            const auto& [a, b] = std::tie(serial.trials[i], wide.trials[i]);
            EXPECT_EQ(a.time_of_flight, b.time_of_flight) << c.width << " trial " << i;
            EXPECT_EQ(a.ok, b.ok);
            EXPECT_EQ(std::bit_cast<std::uint64_t>(a.final_mass), std::bit_cast<std::uint64_t>(b.final_mass));
        }
        EXPECT_EQ(wide.out->value().time_of_flight, serial.out->value().time_of_flight);
        EXPECT_EQ(wide.rounds, c.rounds) << c.width;
        EXPECT_EQ(wide.solved, c.solved) << c.width;
    }
}

// A score replaces the final mass as what the search maximises; the reports keep the final
// mass beside it.
TEST(SearchScore, TheSearchMaximisesTheScore) {
    const Observed seen =
        search_with_width(1, [](const Trajectory& t) { return -std::fabs(t.time_of_flight - 95.0); });
    ASSERT_TRUE(seen.out->ok());
    EXPECT_NEAR(seen.out->value().time_of_flight, 95.0, 1e-3);  // not the mass peak at 63.7
    ASSERT_EQ(seen.trials.size(), 36u);
    const auto& last = seen.trials.back();
    EXPECT_EQ(last.score, -std::fabs(last.time_of_flight - 95.0));
    EXPECT_EQ(last.final_mass, seen.out->value().final_mass);
    EXPECT_EQ(seen.trials[11].score, -kInf);  // a failed trial scores -infinity
}

}  // namespace
