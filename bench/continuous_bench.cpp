// The continuous method against the nodes method on the default searched landing: the plan
// a user gets by default (continuous, high accuracy) against the fixed program's plan
// (nodes, default accuracy), at N = 20, 100 and 400 (or the N given). Medians of
// alternating runs, one trial at a time.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

#include "tarvo_core/config.hpp"
#include "tarvo_core/plan.hpp"

namespace {

using namespace tarvo_core;
using Clock = std::chrono::steady_clock;

constexpr int kRepeats = 5;

struct Run {
    std::vector<double> seconds;
    std::size_t trials = 0;
    std::uint64_t iterations = 0;
    double final_mass = 0.0;
    double time_of_flight = 0.0;
};

void run(const config::Config& config, plan::Options options, Run& into) {
    std::size_t trials = 0;
    options.observe = [&trials](const search::TrialReport&) { ++trials; };
    const auto start = Clock::now();
    const plan::Outcome outcome = plan::plan_landing(config, options);
    into.seconds.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    into.trials = trials;
    into.iterations = outcome.iterations;
    into.final_mass = outcome.trajectory ? outcome.trajectory.value().final_mass : 0.0;
    into.time_of_flight = outcome.time_of_flight;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::uint64_t> sizes{20, 100, 400};
    if (argc > 1) {
        sizes = {std::strtoull(argv[1], nullptr, 10)};
    }
    plan::Options nodes;
    plan::Options continuous;
    continuous.method = plan::Method::continuous;
    continuous.accuracy = plan::Accuracy::high;
    std::printf("default searched landing, median of %d runs: continuous (high) against nodes "
                "(default)\n", kRepeats);
    std::printf("%6s %-11s %9s %7s %7s %11s %10s %8s\n", "N", "method", "seconds", "ratio",
                "trials", "iterations", "mass_kg", "tof_s");
    for (const std::uint64_t n : sizes) {
        config::Config config;
        config.solver.n = n;
        Run a, b;
        for (int repeat = 0; repeat < kRepeats; ++repeat) {
            run(config, nodes, a);
            run(config, continuous, b);
        }
        const double base = median(a.seconds);
        for (const auto& [name, r] : {std::pair{"nodes", &a}, std::pair{"continuous", &b}}) {
            std::printf("%6llu %-11s %9.3f %7.2f %7zu %11llu %10.3f %8.3f\n",
                        static_cast<unsigned long long>(n), name, median(r->seconds),
                        median(r->seconds) / base, r->trials,
                        static_cast<unsigned long long>(r->iterations), r->final_mass,
                        r->time_of_flight);
        }
    }
    return 0;
}
