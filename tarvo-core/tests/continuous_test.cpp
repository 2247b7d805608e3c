// The continuous method: random realistic landings flown independently (flight_check.hpp),
// its fuel against the nodes method, the bounds it certifies its flights with, the search
// for narrow windows of landing times, and the configurations it refuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "flight_bounds.hpp"
#include "flight_check.hpp"
#include "landing_program.hpp"
#include "plan_trials.hpp"
#include "random_landings.hpp"
#include "tarvo_core/plan.hpp"
#include "tarvo_core/thread_pool.hpp"
#include "test_support.hpp"

namespace {

using namespace tarvo_core;
using plan::Method;
using plan::Options;
using plan::plan_landing;

constexpr double kLimit = 1e-6;  // every limit holds to this, relative to it
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

Options with(Method method, plan::Accuracy accuracy = plan::Accuracy::high) {
    Options options;
    options.method = method;
    options.accuracy = accuracy;
    return options;
}

double fuel_used(const config::Config& config, const solve::Trajectory& t) {
    return config.spacecraft.wet_mass - t.final_mass;
}

// Flies the landing and checks every promise of the continuous method; the final mass it
// reports is the real one, or below it by at most 0.05 kg or 0.2 % of the fuel used.
void expect_flyable(const config::Config& config, const solve::Trajectory& t,
                    const std::string& name) {
    const flight_check::Excess f = flight_check::fly(config, t);
    for (const double excess : {f.above_max_thrust, f.below_min_thrust, f.over_speed,
                                f.below_glide_slope, f.past_pointing, f.touchdown, f.relaxation}) {
        EXPECT_LE(excess, kLimit) << name;
    }
    const double below = f.real_final_mass - t.final_mass;
    EXPECT_GE(below, -1e-9 * t.final_mass) << name;
    EXPECT_LE(below, std::fmax(0.05, 0.002 * fuel_used(config, t))) << name;
}

// Plans with `options`, recording every trial reported in `trials`.
plan::Outcome plan_observed(const config::Config& config, std::vector<search::TrialReport>& trials,
                            Options options = with(Method::continuous)) {
    options.observe = [&](const search::TrialReport& t) { trials.push_back(t); };
    return plan_landing(config, options);
}

struct Tally {
    int nodes_ok = 0, continuous_ok = 0;
    int two_solves = 0;  // fixed landings made flyable by one solve after the first
    std::vector<double> fuel_cost;  // (continuous - nodes) / nodes, where both land
};

// Whether a continuous landing at a fixed time of flight took two solves: the first one, and
// one about it whose margins held the thrust limits with no further solve.
bool took_two_solves(const config::Config& config, const plan::Outcome& outcome) {
    const plan::LandingProgram program =
        plan::landing_program(config, with(Method::continuous)).value();
    std::uint32_t first = 0;
    (void)plan::solve_landing(config, outcome.time_of_flight, plan::first_program(program), first);
    return outcome.iterations == first + outcome.trajectory.value().solver.iterations;
}

// Plans landings `first`, `first` + 2, ... of the generator with both methods and flies
// every continuous landing.
Tally plan_random_landings(int first, int count, int min_n, int max_n,
                           plan::Accuracy accuracy = plan::Accuracy::high) {
    Tally tally;
    for (int index = first; index < first + 2 * count; index += 2) {
        const random_landings::Landing landing = random_landings::landing(1, index, min_n, max_n);
        const plan::Outcome nodes = plan_landing(landing.config, with(Method::nodes, accuracy));
        const plan::Outcome continuous =
            plan_landing(landing.config, with(Method::continuous, accuracy));
        tally.nodes_ok += nodes.trajectory.ok();
        tally.continuous_ok += continuous.trajectory.ok();
        if (!continuous.trajectory) continue;
        expect_flyable(landing.config, continuous.trajectory.value(), landing.name);
        if (landing.config.solver.time_of_flight)
            tally.two_solves += took_two_solves(landing.config, continuous);
        if (nodes.trajectory) {
            const double base = fuel_used(landing.config, nodes.trajectory.value());
            tally.fuel_cost.push_back(
                (fuel_used(landing.config, continuous.trajectory.value()) - base) / base);
        }
    }
    return tally;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Searched landings on 20 to 60 nodes, fixed ones on 20 to 150: every continuous landing
// flies within its limits, and it lands at least 85 % as often as the nodes method.
TEST(ContinuousMethod, SearchedRandomLandingsHoldEveryLimitInContinuousTime) {
    const Tally tally = plan_random_landings(0, 15, 20, 60);
    EXPECT_GE(tally.nodes_ok, 12);
    EXPECT_GE(tally.continuous_ok, 0.85 * tally.nodes_ok);
}

// At a fixed time of flight the guarantee costs almost no fuel against the nodes method
// at the same accuracy: a median of at most 0.01 %, at most 1 % on any landing. The margins
// measured on the first solve's flight hold the limits on the next solve for most landings.
TEST(ContinuousMethod, FixedRandomLandingsHoldEveryLimitAtLittleFuelCost) {
    const Tally tally = plan_random_landings(1, 15, 20, 150);
    EXPECT_GE(tally.nodes_ok, 12);
    EXPECT_GE(tally.continuous_ok, 0.85 * tally.nodes_ok);
    EXPECT_GE(tally.two_solves, 0.8 * tally.continuous_ok);
    ASSERT_GE(tally.fuel_cost.size(), 10u);
    EXPECT_LE(median(tally.fuel_cost), 1e-4);
    EXPECT_LE(*std::max_element(tally.fuel_cost.begin(), tally.fuel_cost.end()), 1e-2);
}

// At the default accuracy the solver stops before the relaxation closes: the method refuses
// many landings, and each one it accepts holds every limit.
TEST(ContinuousMethod, StandardAccuracyLandingsHoldEveryLimitToo) {
    EXPECT_GE(plan_random_landings(1, 12, 20, 150, plan::Accuracy::solver_default).continuous_ok, 3);
}

// The bounds the method certifies a flight with contain the flown thrust on every interval,
// also for node-wise landings that dip and overshoot between the nodes.
TEST(FlightBounds, ContainTheFlownThrustOnEveryInterval) {
    for (int index = 1; index < 12; index += 2) {
        const random_landings::Landing landing = random_landings::landing(2, index, 20, 80);
        for (const Method method : {Method::nodes, Method::continuous}) {
            const plan::Outcome outcome = plan_landing(landing.config, with(method));
            if (!outcome.trajectory) continue;
            const solve::Trajectory& t = outcome.trajectory.value();
            const plan::FlightBounds bounds = plan::flight_bounds(
                landing.config, t, plan::bisector_directions(t, {0.0, 0.0, 1.0}));
            const flight_check::Excess flown = flight_check::fly(landing.config, t, 256);
            ASSERT_EQ(bounds.most_thrust.size(), flown.interval_most.size());
            for (std::size_t k = 0; k < bounds.most_thrust.size(); ++k) {
                const double scale = 1e-9 * flown.interval_most[k];
                EXPECT_GE(bounds.most_thrust[k], flown.interval_most[k] - scale) << landing.name;
                EXPECT_LE(bounds.least_thrust[k], flown.interval_least[k] + scale) << landing.name;
            }
        }
    }
}

// Landings that pass the glide slope (or the ground) between the nodes when only the nodes
// hold it: with few nodes, moving away from the target, the path sags through it on its way
// back. The continuous method holds it at every instant.
TEST(ContinuousMethod, HoldsTheGlideSlopeAndTheGroundBetweenTheNodes) {
    const struct { double altitude, glide_deg; std::uint64_t n; } cases[] = {
        {800.0, 0.0, 6}, {1500.0, 5.0, 6}, {800.0, 5.0, 10}};
    for (const auto& [altitude, glide_deg, n] : cases) {
        config::Config config = test_support::small_landing(60.0);
        config.solver.n = n;
        config.spacecraft.initial_position = {2000.0, 0.0, altitude};
        config.spacecraft.initial_velocity = {100.0, 0.0, -75.0};
        config.environment.glide_slope_angle_deg = glide_deg;
        const plan::Outcome nodes = plan_landing(config, with(Method::nodes));
        const plan::Outcome continuous = plan_landing(config, with(Method::continuous));
        ASSERT_TRUE(nodes.trajectory.ok() && continuous.trajectory.ok()) << glide_deg;
        EXPECT_GT(flight_check::fly(config, nodes.trajectory.value()).below_glide_slope, 1e-4);
        expect_flyable(config, continuous.trajectory.value(), std::to_string(glide_deg));
    }
}

// A searched landing with plenty of fuel: the time of flight and fuel of its least fuel.
struct FuelNeed {
    config::Config config;
    double best_tof, fuel;
};

FuelNeed fuel_need(int index) {
    random_landings::Landing landing = random_landings::landing(3, 2 * index, 20, 20);
    landing.config.environment.max_angle_deg = 90.0;
    const plan::Outcome rich = plan_landing(landing.config, with(Method::continuous));
    EXPECT_TRUE(rich.trajectory.ok()) << landing.name;
    const double fuel = rich.trajectory ? fuel_used(landing.config, rich.trajectory.value()) : 0.0;
    return {landing.config, rich.time_of_flight, fuel};
}

// The landing with a fuel margin of `margin` over the least it needs.
config::Config with_margin(const FuelNeed& need, double margin) {
    config::Config config = need.config;
    config.spacecraft.fuel = need.fuel * (1.0 + margin);
    return config;
}

// With fuel margins of 0.05 % to 3 % the window of landing times is often narrower than the
// search's grid step. Wherever a brute-force scan of fixed times of flight lands, the search
// lands too, at least as well as the scan.
TEST(ContinuousSearch, FindsNarrowWindowsWhereFixedTimesLand) {
    int windows_between_grid_points = 0;
    for (int index = 0; index < 4; ++index) {
        const FuelNeed need = fuel_need(index);
        for (const double margin : {0.0005, 0.01, 0.03}) {
            const config::Config config = with_margin(need, margin);
            double scanned_best = -kInf;
            for (int i = 0; i <= 24; ++i) {
                config::Config fixed = config;
                fixed.solver.time_of_flight = need.best_tof * (0.8 + 0.45 * i / 24.0);
                const plan::Outcome landed = plan_landing(fixed, with(Method::continuous));
                if (landed.trajectory)
                    scanned_best = std::fmax(scanned_best, landed.trajectory.value().final_mass);
            }
            std::vector<search::TrialReport> trials;
            const plan::Outcome searched = plan_observed(config, trials);
            if (scanned_best > -kInf) {
                ASSERT_TRUE(searched.trajectory.ok()) << index << " " << margin << ": "
                                                      << searched.trajectory.error().text;
                EXPECT_GE(searched.trajectory.value().final_mass, scanned_best - 1e-4 * need.fuel);
                expect_flyable(config, searched.trajectory.value(), "searched window");
            }
            windows_between_grid_points += std::none_of(
                trials.begin(), trials.begin() + 13, [](const auto& t) { return t.ok; });
        }
    }
    EXPECT_GE(windows_between_grid_points, 3);  // the grid alone would have missed them
}

// A vertical descent that holds at least 44 % of the maximum thrust within 5 degrees of the
// vertical lands only between about 29 and 34 s: of the grid 15, 31, ..., 207 s only 31 s
// lands, and both first points of the golden section around it fail. The refinement keeps
// the part that holds the landing and closes in on the window's fuel-optimal end, where the
// flyable landing's margins leave no room: the search finds one further in, still better
// than the grid point's.
TEST(ContinuousSearch, KeepsTheWindowBetweenTwoFailedGoldenSectionPoints) {
    config::Config config = test_support::small_landing(std::nullopt);
    config.spacecraft.initial_position = {0.0, 0.0, 1000.0};
    config.spacecraft.initial_velocity = {0.0, 0.0, -60.0};
    config.spacecraft.min_thrust_pct = 0.44;
    config.environment.max_angle_deg = 5.0;
    config.solver = {20, std::nullopt, 15.0, 207.0};
    std::vector<search::TrialReport> trials;
    const plan::Outcome outcome = plan_observed(config, trials);
    ASSERT_GE(trials.size(), 35u);
    const auto landed = [](const search::TrialReport& t) { return t.ok; };
    EXPECT_EQ(std::count_if(trials.begin(), trials.begin() + 13, landed), 1);
    EXPECT_FALSE(trials[13].ok || trials[14].ok);
    double refined = -kInf;
    for (std::size_t i = 15; i < 35; ++i) refined = std::fmax(refined, trials[i].score);
    EXPECT_GT(refined, trials[1].score + 4.0);  // 2 s earlier: 3.2 kg a second
    ASSERT_TRUE(outcome.trajectory.ok()) << outcome.trajectory.error().text;
    EXPECT_GE(outcome.trajectory.value().final_mass, trials[1].score);
    EXPECT_EQ(trials.back().time_of_flight, outcome.time_of_flight);
    expect_flyable(config, outcome.trajectory.value(), "edge of the window");
}

// A vehicle that throttles to 5 % or less has a bracket of the time its fuel lasts at that
// thrust, 2833 s or more, while a program exists only up to 208 s, where the reference mass
// burning at full thrust runs out: one grid point lies before it, and fails. The search scans
// that part again and lands, as well as the best of a coarse scan of fixed times. The nodes
// method keeps its search, and fails.
TEST(ContinuousSearch, ScansAgainWhereTheProgramExistsForAVehicleThatThrottlesDown) {
    for (const double min_thrust : {0.0, 0.05}) {
        config::Config config = test_support::small_landing(std::nullopt);
        config.solver.n = 20;
        config.spacecraft.min_thrust_pct = min_thrust;
        double scanned_best = -kInf;
        for (int tof = 30; tof <= 70; tof += 5) {
            config::Config fixed = config;
            fixed.solver.time_of_flight = tof;
            const plan::Outcome landed = plan_landing(fixed, with(Method::continuous));
            if (landed.trajectory)
                scanned_best = std::fmax(scanned_best, landed.trajectory.value().final_mass);
        }
        const std::string name = "min thrust " + std::to_string(min_thrust);
        const plan::Outcome searched = plan_landing(config, with(Method::continuous));
        ASSERT_TRUE(searched.trajectory.ok()) << name << ": " << searched.trajectory.error().text;
        EXPECT_GT(scanned_best, config.spacecraft.wet_mass - config.spacecraft.fuel) << name;
        EXPECT_GE(searched.trajectory.value().final_mass, scanned_best - 0.01) << name;
        expect_flyable(config, searched.trajectory.value(), name);
        EXPECT_FALSE(plan_landing(config, with(Method::nodes)).trajectory.ok()) << name;
    }
    // 1 N lands at no time: the failure names the part scanned last, up to 2000 / (0.0005 * 0.8).
    config::Config weak = test_support::small_landing(std::nullopt);
    weak.solver.n = 10;
    weak.spacecraft.min_thrust_pct = 0.0;
    weak.spacecraft.real_max_thrust = 1.0;
    const plan::Outcome failed = plan_landing(weak, with(Method::continuous));
    ASSERT_FALSE(failed.trajectory.ok());
    EXPECT_EQ(failed.trajectory.error().text,
              "infeasible: no feasible time-of-flight in [15909.903, 5000000.000]");
}

// Concurrent trials take the same trials in the same order and give the same landing, also
// when the window lies between the grid points.
TEST(ContinuousSearch, ConcurrentTrialsGiveTheSameLanding) {
    const config::Config config = with_margin(fuel_need(0), 0.0005);
    std::vector<search::TrialReport> serial_trials, concurrent_trials;
    const plan::Outcome serial = plan_observed(config, serial_trials);
    EXPECT_TRUE(std::none_of(serial_trials.begin(), serial_trials.begin() + 13,
                             [](const auto& t) { return t.ok; }));
    ThreadPool pool(2);
    Options options = with(Method::continuous);
    options.parallel_for = [&](std::size_t count, const std::function<void(std::size_t)>& body) {
        pool.parallel_for(count, body);
    };
    options.width = 7;
    const plan::Outcome concurrent = plan_observed(config, concurrent_trials, options);
    ASSERT_TRUE(serial.trajectory.ok() && concurrent.trajectory.ok());
    ASSERT_EQ(serial_trials.size(), concurrent_trials.size());
    for (std::size_t i = 0; i < serial_trials.size(); ++i) {
        EXPECT_EQ(serial_trials[i].time_of_flight, concurrent_trials[i].time_of_flight) << i;
    }
    EXPECT_TRUE(test_support::same_bits(serial.trajectory.value().z_values,
                                        concurrent.trajectory.value().z_values));
    EXPECT_GE(concurrent.iterations, serial.iterations);
}

// Refused before any solve, naming the field and its value: what solve and the search
// refuse, and also numbers that are not finite, fuel at or above the wet mass and no flow.
TEST(ContinuousMethod, ImpossibleConfigurationsAreRefusedBeforeAnySolve) {
    const struct { std::function<void(config::Config&)> change; const char* text; } cases[] = {
        {[](auto& c) { c.solver.time_of_flight = -45.0; },
         "solver.time_of_flight must be positive and finite, not -45"},
        {[](auto& c) { c.solver = {15, std::nullopt, 90.0, 30.0}; },
         "solver.tof_min (90) must be less than solver.tof_max (30)"},
        {[](auto& c) { c.spacecraft.wet_mass = kNaN; }, "spacecraft.wet_mass must be finite, not NaN"},
        {[](auto& c) { c.spacecraft.initial_velocity = {0.0, -kInf, 1.0}; },
         "spacecraft.initial_velocity must be finite, not (0, -inf, 1)"},
        {[](auto& c) { c.environment.gravity[2] = kNaN; },
         "environment.gravity must be finite, not (0, 0, NaN)"},
        {[](auto& c) { c.solver.tof_max = kNaN; }, "solver.tof_max must be finite, not NaN"},
        {[](auto& c) { c.spacecraft.fuel = c.spacecraft.wet_mass; },
         "spacecraft.fuel (2000) must be less than spacecraft.wet_mass (2000)"},
        {[](auto& c) { c.spacecraft.fuel_consumption = 0.0; },
         "spacecraft.fuel_consumption must be positive, not 0"},
    };
    for (const auto& c : cases) {
        for (const std::optional<double> tof : {std::optional(50.0), std::optional<double>()}) {
            config::Config config = test_support::small_landing(tof);
            c.change(config);
            if (tof && !config.solver.time_of_flight) continue;  // the change unset it
            std::vector<search::TrialReport> trials;
            const plan::Outcome outcome = plan_observed(config, trials);
            ASSERT_FALSE(outcome.trajectory.ok()) << c.text;
            EXPECT_EQ(outcome.trajectory.error().kind, FailureKind::invalid_input);
            EXPECT_EQ(outcome.trajectory.error().text, std::string("invalid configuration: ") + c.text);
            EXPECT_TRUE(trials.empty()) << c.text;
        }
    }
}

// A speed limit that binds: the nodes method passes it between the nodes, the continuous
// method holds it at every instant. An infinite one means no limit to the continuous method;
// the nodes method keeps the solver's verdict on it.
TEST(ContinuousMethod, HoldsABindingSpeedLimitAndReadsInfinityAsNone) {
    config::Config config = test_support::small_landing(60.0);
    config.solver.n = 20;
    config.spacecraft.max_velocity = 50.0;  // the vehicle starts at 42.4 m/s
    const plan::Outcome nodes = plan_landing(config, with(Method::nodes));
    const plan::Outcome continuous = plan_landing(config, with(Method::continuous));
    ASSERT_TRUE(nodes.trajectory.ok() && continuous.trajectory.ok());
    EXPECT_GT(flight_check::fly(config, nodes.trajectory.value()).over_speed, 1e-3);
    expect_flyable(config, continuous.trajectory.value(), "binding speed limit");
    EXPECT_GT(flight_check::fly(config, continuous.trajectory.value()).over_speed, -1e-4);

    config.solver.n = 15;
    config.spacecraft.max_velocity = kInf;
    const plan::Outcome unlimited = plan_landing(config, with(Method::continuous));
    ASSERT_TRUE(unlimited.trajectory.ok()) << unlimited.trajectory.error().text;
    expect_flyable(config, unlimited.trajectory.value(), "no speed limit");
    const plan::Outcome refused = plan_landing(config, with(Method::nodes));
    ASSERT_FALSE(refused.trajectory.ok());
    EXPECT_EQ(refused.trajectory.error().kind, FailureKind::solver_status);
    EXPECT_EQ(refused.trajectory.error().text, "solver status: " + refused.trajectory.error().status);
}

// A time of flight whose landing cannot hold the thrust between the nodes fails as
// infeasible: here the minimum is the maximum, which a turning thrust cannot hold.
TEST(ContinuousMethod, ATimeOfFlightThatCannotHoldTheLimitsIsInfeasible) {
    config::Config config = test_support::small_landing(50.0);
    config.spacecraft.min_thrust_pct = config.spacecraft.max_thrust_pct;
    const plan::Outcome outcome = plan_landing(config, with(Method::continuous));
    ASSERT_FALSE(outcome.trajectory.ok());
    EXPECT_EQ(outcome.trajectory.error().kind, FailureKind::infeasible);
    EXPECT_EQ(outcome.trajectory.error().text.rfind(
                  "infeasible: in 50 s no landing holds the thrust limits between the nodes (", 0),
              0u) << outcome.trajectory.error().text;
}

}  // namespace
