// What planning one landing takes and gives: the options a guidance engineer sets (the
// method, solver accuracy, what to do with an unreachable target, cancellation, concurrent
// search trials and their reports) and the outcome. plan.hpp plans with them; the planning
// layer's own parts share them from here.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "tarvo_core/result.hpp"
#include "tarvo_core/search.hpp"
#include "tarvo_core/solve.hpp"

namespace tarvo_core::plan {

enum class Accuracy {
    solver_default,  // the solver's default tolerances: the numbers of solve_fixed
    // Tolerances of 1e-10 with the cost weighted to the scale of the positions: the final
    // log-mass within 1e-5 of the optimum, where the defaults can stop 1e-3 short of it.
    high,
};

enum class Unreachable {
    fail,  // no time of flight reaches the target: fail, as the search does
    // Then land as close to the target as the vehicle can on the target's horizontal plane
    // (normal to gravity), searching the time of flight for the nearest point, then with
    // the least fuel at that distance; with a fixed time of flight, at that time only.
    // A reachable target costs nothing extra and lands as with `fail`.
    closest,
};

enum class Method {
    nodes,  // the limits hold at the nodes: the fixed program and its search
    // The limits hold at every instant of the flight: with the commanded thrust acceleration
    // linear between the nodes and the mass flowing with the real thrust, the real thrust
    // stays within its bounds (to 1e-7 of each), the speed within max_velocity (infinite: no
    // limit), the path above the glide slope or the ground and the thrust within
    // max_angle_deg (each to the solver's tolerance). The relaxation is lossless to 1e-6 of
    // the maximum thrust, and the mass reported is that of the flight, never above the real
    // one. A time of flight for which no such landing is found fails as infeasible; the
    // search finds windows of landing times narrower than its grid step. Meant for high
    // accuracy: at the default accuracy the solver stops before the relaxation closes, and
    // many landings fail.
    continuous,
};

struct Options {
    Method method = Method::nodes;
    Accuracy accuracy = Accuracy::solver_default;
    Unreachable unreachable = Unreachable::fail;
    // Once true, every solve stops and the plan fails with solve::cancelled_text().
    const std::atomic<bool>* cancel = nullptr;
    // How a search runs its trials and who is told of them (see search::SearchOptions).
    search::ParallelFor parallel_for;
    std::size_t width = 1;
    std::function<void(const search::TrialReport&)> observe;
};

struct Outcome {
    Result<solve::Trajectory> trajectory;  // the landing, or why there is none
    double time_of_flight = 0.0;           // of the landing (the fixed or the searched one)
    double miss_distance = 0.0;  // metres from the target of a closest landing, else 0
    std::string note;  // what an option changed ("target out of reach: landed ..."), or ""
    // Interior-point iterations of every solve the plan ran: failed trials and, with
    // concurrent trials, speculative ones included.
    std::uint64_t iterations = 0;
};

}  // namespace tarvo_core::plan
