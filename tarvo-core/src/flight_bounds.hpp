// Bounds of the real flight between the nodes of a landing: the commanded thrust acceleration
// u(t) linear between nodes, the mass following dm/dt = -alpha m |u(t)| from the wet mass,
// the real thrust m(t) |u(t)|. Every bound follows from two facts about one interval and a
// unit vector d: d . u(t) <= |u(t)| <= the linear interpolation of |u_k| and |u_k+1|.
#pragma once

#include <vector>

#include "tarvo_core/config.hpp"
#include "tarvo_core/solve.hpp"

namespace tarvo_core::plan {

struct FlightBounds {
    std::vector<double> most_thrust;    // per interval: the real thrust never exceeds it, N
    std::vector<double> least_thrust;   // per interval: the real thrust never falls below it, N
    std::vector<double> booked_thrust;  // per node: the program's bound sigma_k e^z_k, N
    double relaxation_gap = 0.0;  // the largest (sigma_k - |u_k|) e^z_k over the nodes, N
};

// Per interval, the unit bisector of the thrust directions at its two nodes (the one node's
// direction when the other has no thrust, `fallback` when neither has).
std::vector<config::Vec3> bisector_directions(const solve::Trajectory& trajectory,
                                              const config::Vec3& fallback);

// The bounds of the trajectory's real flight, using `directions` (one unit vector per
// interval) for the lower bounds of |u(t)|.
FlightBounds flight_bounds(const config::Config& config, const solve::Trajectory& trajectory,
                           const std::vector<config::Vec3>& directions);

// The tighter of two bounds of the same flight, interval by interval.
FlightBounds tighter(FlightBounds a, const FlightBounds& b);

// The log-mass of the flight at every node, never above the real one: the burn of each
// interval as the trapezoid rule on kBurnSteps pieces of it, which exceeds the integral of
// |u(t)| (convex along a segment) by 1 / kBurnSteps^2 of what the trapezoid of the nodes does.
std::vector<double> flown_log_mass(const config::Config& config,
                                   const solve::Trajectory& trajectory);

}  // namespace tarvo_core::plan
