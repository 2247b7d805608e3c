#include "closest_landing.hpp"

#include <cmath>
#include <cstdio>
#include <utility>

#include "number_text.hpp"
#include "thrust_pointing.hpp"

namespace tarvo_core::plan {
namespace {

// The fuel-optimal landing may end this much farther out than the nearest point, relative to
// that distance (at least 1): without it the program would be feasible only at its edge.
constexpr double kDistanceMargin = 1e-6;
// A landing this close to the target, relative to the distance to fly (at least 1), is on it:
// the plan failed for want of a time of flight (near the edge of its reach a lander reaches
// a point only within a few seconds, which the search's scan can step over) or numerically.
constexpr double kOnTarget = 1e-6;

LandingProgram on_target_plane(LandingProgram program, const config::Vec3& up,
                               std::optional<double> max_distance) {
    program.formulation.terminal_plane = assemble::TerminalPlane{up, max_distance};
    return program;
}

double on_target_tolerance(const config::Spacecraft& craft) {
    const config::Vec3& start = craft.initial_position;
    const config::Vec3& target = craft.target_position;
    const double to_fly =
        std::hypot(start[0] - target[0], start[1] - target[1], start[2] - target[2]);
    return kOnTarget * std::fmax(to_fly, 1.0);
}

std::string landed_note(double miss, bool on_target, std::optional<double> fixed_tof,
                        const Failure& unreachable) {
    if (on_target) {
        return "no landing on the target was found (" + unreachable.text +
               "); the closest landing reaches it";
    }
    char distance[64];
    std::snprintf(distance, sizeof distance, "%.1f", miss);
    const std::string when = fixed_tof ? " in " + number_text(*fixed_tof) + " s" : "";
    return "target out of reach" + when + ": landed " + distance +
           " m from it, the closest reachable point";
}

Outcome failed(Failure unreachable, double tof, std::string note) {
    return {std::move(unreachable), tof, 0.0, std::move(note), 0};
}

// Step 1: the landing nearest to the target on its horizontal plane.
Result<solve::Trajectory> nearest_landing(const config::Config& config, PlanTrials& trials,
                                          const LandingProgram& nearest,
                                          std::optional<double> fixed_tof) {
    if (fixed_tof) {
        return trials.fixed(*fixed_tof, nearest);
    }
    return trials.search(nearest, [&config](const solve::Trajectory& t) {
        return -distance_to_target(t, config);
    });
}

// Step 2: the most final mass with the last node within the bounded program's distance. The
// search finds no feasible grid point when that distance is reachable only near one time of
// flight; then the time of flight of the nearest landing decides.
Result<solve::Trajectory> fuel_optimal_within(PlanTrials& trials, const LandingProgram& bounded,
                                              std::optional<double> fixed_tof,
                                              double nearest_tof) {
    if (fixed_tof) {
        return trials.fixed(*fixed_tof, bounded);
    }
    Result<solve::Trajectory> searched = trials.search(bounded);
    if (searched || trials.cancelled()) {
        return searched;
    }
    return trials.fixed(nearest_tof, bounded);
}

}  // namespace

double distance_to_target(const solve::Trajectory& trajectory, const config::Config& config) {
    const config::Vec3& last = trajectory.positions.back();
    const config::Vec3& target = config.spacecraft.target_position;
    return std::hypot(last[0] - target[0], last[1] - target[1], last[2] - target[2]);
}

Outcome closest_landing(const config::Config& config, PlanTrials& trials,
                        const LandingProgram& program, std::optional<double> fixed_tof,
                        Failure unreachable) {
    const std::optional<config::Vec3> up = up_direction(config.environment.gravity);
    if (!up) {
        return failed(std::move(unreachable), fixed_tof.value_or(0.0),
                      "no closest landing: gravity gives the target no horizontal plane");
    }
    Result<solve::Trajectory> nearest = nearest_landing(
        config, trials, on_target_plane(program, *up, std::nullopt), fixed_tof);
    if (!nearest) {
        return failed(std::move(unreachable), fixed_tof.value_or(0.0),
                      "no closest landing: no point of the target's horizontal plane is "
                      "reachable either (" + nearest.error().text + ")");
    }
    const double reach = distance_to_target(nearest.value(), config);
    const double allowed = reach + kDistanceMargin * std::fmax(reach, 1.0);
    Result<solve::Trajectory> landing =
        fuel_optimal_within(trials, on_target_plane(program, *up, allowed), fixed_tof,
                            nearest.value().time_of_flight);
    std::string fuel_note;
    if (!landing) {  // the nearest landing still lands there, only its fuel is not optimised
        fuel_note = "; its fuel is not optimised (" + landing.error().text + ")";
        landing = std::move(nearest);
    }
    const double miss = distance_to_target(landing.value(), config);
    const bool on_target = miss <= on_target_tolerance(config.spacecraft);
    std::string note = landed_note(miss, on_target, fixed_tof, unreachable) + fuel_note;
    const double tof = landing.value().time_of_flight;
    return {std::move(landing), tof, miss, std::move(note), 0};
}

}  // namespace tarvo_core::plan
