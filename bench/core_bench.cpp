// Times the four phases of one fixed-horizon solve on the default vehicle at several node
// counts: assembly (build_problem), the copy into the solver bridge (copy_in),
// Clarabel's own construction and solve, and the extraction of the trajectory. Prints the
// median of each phase, the share of the work that is not Clarabel's, and the peak resident
// memory of a process that runs one solve. Each node count runs in its own forked child so
// that its peak memory is its own.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <variant>
#include <vector>

#include "assemble.hpp"
#include "clarabel_bridge/clarabel.hpp"
#include "extract_trajectory.hpp"
#include "tarvo_core/config.hpp"

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kTimeOfFlight = 60.0;
constexpr double kTargetBudget = 2.0;  // seconds of solving per node count

struct PhaseTimes {
    std::vector<double> assemble;
    std::vector<double> copy;
    std::vector<double> clarabel;
    std::vector<double> extract;
};

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : 0.5 * (values[mid - 1] + values[mid]);
}

long peak_rss_kib() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// One timed solve of the default vehicle; returns false when a phase fails.
bool time_one_solve(const tarvo_core::assemble::Horizon& horizon, PhaseTimes& times) {
    const tarvo_core::config::Config config;
    auto start = Clock::now();
    const tarvo_core::assemble::Problem problem =
        tarvo_core::assemble::build_problem(config, horizon);
    times.assemble.push_back(seconds_since(start));

    start = Clock::now();
    auto copied = clarabel_bridge::ProblemData::copy_in(problem.P, problem.q, problem.A,
                                                        problem.b, problem.cones);
    times.copy.push_back(seconds_since(start));
    const auto* data = std::get_if<clarabel_bridge::ProblemData>(&copied);
    if (data == nullptr) {
        return false;
    }

    start = Clock::now();
    const auto outcome = data->solve();
    times.clarabel.push_back(seconds_since(start));
    const auto* solution = std::get_if<clarabel_bridge::Solution>(&outcome);
    if (solution == nullptr || solution->status != clarabel_bridge::SolverStatus::Solved) {
        return false;
    }

    start = Clock::now();
    const auto trajectory = tarvo_core::solve::extract_trajectory(
        solution->x, horizon, config.spacecraft.real_max_thrust);
    times.extract.push_back(seconds_since(start));
    return trajectory.final_mass > 0.0;
}

int run_node_count(std::uint64_t n) {
    const auto horizon = tarvo_core::assemble::Horizon::of(n, kTimeOfFlight);
    if (!horizon) {
        std::fprintf(stderr, "N=%llu: %s\n", static_cast<unsigned long long>(n),
                     horizon.error().text.c_str());
        return 1;
    }
    const long rss_before = peak_rss_kib();
    PhaseTimes times;
    if (!time_one_solve(horizon.value(), times)) {
        std::fprintf(stderr, "N=%llu: the solve failed\n", static_cast<unsigned long long>(n));
        return 1;
    }
    const long rss_after_one = peak_rss_kib();
    const auto bench_start = Clock::now();
    while (times.clarabel.size() < 7 ||
           (times.clarabel.size() < 200 && seconds_since(bench_start) < kTargetBudget)) {
        if (!time_one_solve(horizon.value(), times)) {
            return 1;
        }
    }
    const double assemble = median(times.assemble) * 1e3;
    const double copy = median(times.copy) * 1e3;
    const double clarabel = median(times.clarabel) * 1e3;
    const double extract = median(times.extract) * 1e3;
    const double ours = assemble + copy + extract;
    std::printf("%5llu %5zu %10.3f %10.3f %11.3f %10.3f %8.2f %%  %9ld %9ld\n",
                static_cast<unsigned long long>(n), times.clarabel.size(), assemble, copy,
                clarabel, extract, 100.0 * ours / (ours + clarabel), rss_after_one,
                rss_after_one - rss_before);
    std::fflush(stdout);
    return 0;
}

// Node counts come from the command line; without any, the standard series.
std::vector<std::uint64_t> node_counts_from(int argc, char** argv) {
    std::vector<std::uint64_t> counts;
    for (int i = 1; i < argc; ++i) counts.push_back(std::strtoull(argv[i], nullptr, 10));
    if (counts.empty()) counts = {25, 50, 100, 200, 400};
    return counts;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::uint64_t> node_counts = node_counts_from(argc, argv);
    std::printf("median milliseconds per solve phase, default vehicle, tof %.1f s\n",
                kTimeOfFlight);
    std::printf("%5s %5s %10s %10s %11s %10s %10s  %9s %9s\n", "N", "reps", "assemble",
                "copy_in", "clarabel", "extract", "not-clar", "peak_KiB", "solve_KiB");
    std::fflush(stdout);
    int failures = 0;
    for (std::uint64_t n : node_counts) {
        const pid_t child = fork();
        if (child < 0) {
            std::perror("fork");
            return 1;
        }
        if (child == 0) {
            std::_Exit(run_node_count(n));
        }
        int status = 0;
        waitpid(child, &status, 0);
        failures += !(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    return failures == 0 ? 0 : 1;
}
