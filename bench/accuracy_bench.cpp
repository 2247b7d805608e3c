// How far from the optimum each accuracy stops: the final log-mass of the default vehicle at
// default and high accuracy against two optima, the fixed program solved with tolerances of
// 1e-12 ("tight") and the same with the cost weighted as high accuracy weights it
// ("weighted tight"), with iterations and seconds. Default cases: N = 100 at 60 .. 100 s,
// N = 1000 and 4000 at 45 s; or "N tof" pairs on the command line.
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

#include "accuracy.hpp"
#include "solve_program.hpp"
#include "tarvo_core/config.hpp"
#include "tarvo_core/plan.hpp"

namespace {

using namespace tarvo_core;
using Clock = std::chrono::steady_clock;

struct Figures {
    bool ok = false;
    double log_mass = 0.0;
    std::uint32_t iterations = 0;
    double seconds = 0.0;
};

template <class Solve>
Figures timed(Solve&& solve) {
    const auto start = Clock::now();
    const Result<solve::Trajectory> trajectory = solve();
    Figures figures;
    figures.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (trajectory) {
        figures = {true, trajectory.value().objective, trajectory.value().solver.iterations,
                   figures.seconds};
    }
    return figures;
}

solve::SolverSettings tight_settings() {
    return {.tol_gap_abs = 1e-12, .tol_gap_rel = 1e-12, .tol_feas = 1e-12,
            .tol_ktratio = 1e-12, .max_iter = 2000};
}

void print(const char* name, const Figures& f, double optimum) {
    if (!f.ok) {
        std::printf("    %-15s failed\n", name);
        return;
    }
    std::printf("    %-15s log-mass %.10f  below optimum %9.2e  mass %10.4f kg  %4u it  %7.3f s\n",
                name, f.log_mass, optimum - f.log_mass, std::exp(f.log_mass), f.iterations,
                f.seconds);
}

void run_case(std::uint64_t n, double tof) {
    config::Config config;
    config.solver.n = n;
    config.solver.time_of_flight = tof;
    plan::Options high;
    high.accuracy = plan::Accuracy::high;
    assemble::Formulation weighted;
    weighted.mass_weight = plan::final_mass_weight(plan::Accuracy::high, config.spacecraft);

    const Figures by_default = timed([&] { return plan::plan_landing(config).trajectory; });
    const Figures accurate = timed([&] { return plan::plan_landing(config, high).trajectory; });
    const Figures tight =
        timed([&] { return solve::solve_fixed(config, tof, tight_settings()); });
    const Figures weighted_tight = timed(
        [&] { return solve::solve_formulated(config, tof, weighted, tight_settings()); });
    const double optimum = std::fmax(tight.log_mass, weighted_tight.log_mass);
    std::printf("N = %llu, tof = %.0f s (optimum: the higher of the two tight solves)\n",
                static_cast<unsigned long long>(n), tof);
    print("default", by_default, optimum);
    print("high", accurate, optimum);
    print("tight", tight, optimum);
    print("weighted tight", weighted_tight, optimum);
    std::printf("    high within 1e-5 of tight: %s, of weighted tight: %s\n",
                std::fabs(accurate.log_mass - tight.log_mass) <= 1e-5 ? "yes" : "NO",
                std::fabs(accurate.log_mass - weighted_tight.log_mass) <= 1e-5 ? "yes" : "NO");
    std::fflush(stdout);
}

std::vector<std::pair<std::uint64_t, double>> cases_from(int argc, char** argv) {
    std::vector<std::pair<std::uint64_t, double>> cases;
    for (int i = 1; i + 1 < argc; i += 2) {
        cases.emplace_back(std::strtoull(argv[i], nullptr, 10), std::strtod(argv[i + 1], nullptr));
    }
    if (cases.empty()) {
        cases = {{100, 60.0}, {100, 70.0},  {100, 80.0}, {100, 90.0},
                 {100, 100.0}, {1000, 45.0}, {4000, 45.0}};
    }
    return cases;
}

}  // namespace

int main(int argc, char** argv) {
    for (const auto& [n, tof] : cases_from(argc, argv)) {
        run_case(n, tof);
    }
    return 0;
}
