// Cost of the options of plan_landing against a plain search at N = 100 (or the N given):
// high accuracy and a thrust-pointing limit on the default vehicle, and the closest landing
// of a lander short of fuel (400 kg) aiming 8 km downrange, against its plain search for a
// reachable target 5 km out. Medians of alternating runs; trials are those the plans used.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "tarvo_core/config.hpp"
#include "tarvo_core/plan.hpp"

namespace {

using namespace tarvo_core;
using Clock = std::chrono::steady_clock;

constexpr int kRepeats = 3;

struct Case {
    Case(std::string case_name, config::Config case_config, plan::Options case_options)
        : name(std::move(case_name)), config(case_config), options(std::move(case_options)) {}

    std::string name;
    config::Config config;
    plan::Options options;
    std::vector<double> seconds;
    std::size_t trials = 0;
    std::uint64_t iterations = 0;
    double final_mass = 0.0;
    double miss_distance = 0.0;
};

config::Config vehicle(std::uint64_t n) {
    config::Config config;
    config.solver.n = n;
    return config;
}

config::Config short_of_fuel(std::uint64_t n, double target_x) {
    config::Config config = vehicle(n);
    config.spacecraft.fuel = 400.0;
    config.spacecraft.target_position = {target_x, 0.0, 0.0};
    return config;
}

void run(Case& c) {
    std::size_t trials = 0;
    c.options.observe = [&trials](const search::TrialReport&) { ++trials; };
    const auto start = Clock::now();
    const plan::Outcome outcome = plan::plan_landing(c.config, c.options);
    c.seconds.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    c.trials = trials;
    c.iterations = outcome.iterations;
    c.final_mass = outcome.trajectory ? outcome.trajectory.value().final_mass : 0.0;
    c.miss_distance = outcome.miss_distance;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const std::uint64_t n = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 100;
    plan::Options high;
    high.accuracy = plan::Accuracy::high;
    plan::Options closest;
    closest.unreachable = plan::Unreachable::closest;
    config::Config pointing = vehicle(n);
    pointing.environment.max_angle_deg = 30.0;
    std::vector<Case> cases{
        {"plain search", vehicle(n), {}},
        {"high accuracy", vehicle(n), high},
        {"pointing 30 deg", pointing, {}},
        {"plain, short of fuel, 5 km", short_of_fuel(n, 5000.0), {}},
        {"closest, short of fuel, 8 km", short_of_fuel(n, 8000.0), closest},
    };
    for (int repeat = 0; repeat < kRepeats; ++repeat) {
        for (Case& c : cases) run(c);
    }
    std::printf("N = %llu, median of %d runs; ratio against the plain search of the same "
                "vehicle\n", static_cast<unsigned long long>(n), kRepeats);
    std::printf("%-30s %9s %7s %7s %11s %10s %8s\n", "plan", "seconds", "ratio", "trials",
                "iterations", "mass_kg", "miss_m");
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        const Case& plain = cases[i < 3 ? 0 : 3];
        std::printf("%-30s %9.3f %7.2f %7zu %11llu %10.3f %8.1f\n", c.name.c_str(),
                    median(c.seconds), median(c.seconds) / median(plain.seconds), c.trials,
                    static_cast<unsigned long long>(c.iterations), c.final_mass,
                    c.miss_distance);
    }
    return 0;
}
