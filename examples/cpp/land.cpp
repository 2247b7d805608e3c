// Solves the default landing, searching the fuel-optimal time of flight, and prints a summary.
#include <cstdio>

#include "tarvo_core/config.hpp"
#include "tarvo_core/search.hpp"

int main() {
    const tarvo_core::config::Config config;  // the default vehicle; no time of flight: search
    const auto result = tarvo_core::search::search_time_of_flight(config);
    if (!result) {
        std::fprintf(stderr, "solve failed: %s\n", result.error().text.c_str());
        return 1;
    }
    const tarvo_core::solve::Trajectory& trajectory = result.value();
    std::printf("status:          %s\n", trajectory.status.c_str());
    std::printf("time of flight:  %.3f s\n", trajectory.time_of_flight);
    std::printf("final mass:      %.3f kg\n", trajectory.final_mass);
    std::printf("fuel used:       %.3f kg\n", config.spacecraft.wet_mass - trajectory.final_mass);
    return 0;
}
