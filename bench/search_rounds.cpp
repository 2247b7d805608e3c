// The round structure of one time-of-flight search when it may run `width` trials at once:
// a counting parallel_for runs the bodies one after another and records each call. Prints, per
// width, the parallel_for calls, the rounds of trial solves one after another that `width`
// threads need (each call takes ceil(trials / width) of them; the final solve one more), the
// trials solved (speculative ones included) and whether the landing is the width-1 landing.
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include "tarvo_core/plan.hpp"

namespace {

using tarvo_core::plan::Options;

struct Rounds {
    std::size_t calls = 0;
    std::size_t rounds = 1;  // the final solve runs alone, outside parallel_for
    std::size_t trials = 1;
    std::vector<double> z_values;
};

Rounds count_rounds(const tarvo_core::config::Config& config, std::size_t width) {
    Rounds counted;
    Options options;
    options.width = width;
    options.parallel_for = [&](std::size_t count, const std::function<void(std::size_t)>& body) {
        ++counted.calls;
        counted.rounds += (count + width - 1) / width;
        counted.trials += count;
        for (std::size_t i = 0; i < count; ++i) {
            body(i);
        }
    };
    const auto outcome = tarvo_core::plan::plan_landing(config, options);
    if (outcome.trajectory) {
        counted.z_values = outcome.trajectory.value().z_values;
    }
    return counted;
}

}  // namespace

int main() {
    tarvo_core::config::Config config;  // the default vehicle, searched
    config.solver.n = 30;
    std::vector<double> serial;
    std::printf("%6s %6s %7s %7s %s\n", "width", "calls", "rounds", "trials", "same landing");
    for (const std::size_t width : {1, 2, 4, 8, 16, 32}) {
        const Rounds counted = count_rounds(config, width);
        if (width == 1) {
            serial = counted.z_values;
        }
        const bool same = counted.z_values.size() == serial.size() && !serial.empty() &&
                          std::memcmp(counted.z_values.data(), serial.data(),
                                      serial.size() * sizeof(double)) == 0;
        std::printf("%6zu %6zu %7zu %7zu %s\n", width, counted.calls, counted.rounds,
                    counted.trials, same ? "yes" : "NO");
    }
    return 0;
}
