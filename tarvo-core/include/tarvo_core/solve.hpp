// Fixed-horizon solve: one conic program for one time of flight, solved by Clarabel.
#pragma once

#include <string>
#include <vector>

#include "tarvo_core/config.hpp"
#include "tarvo_core/result.hpp"

namespace tarvo_core::solve {

// One landing trajectory; every list has one entry per node.
struct Trajectory {
    std::vector<config::Vec3> positions;
    std::vector<config::Vec3> velocities;
    std::vector<double> thrusts;             // |u_k| * exp(z_k)
    std::vector<double> normalized_thrusts;  // thrusts / real_max_thrust
    std::vector<double> z_values;            // log-mass
    std::vector<config::Vec3> u_values;      // thrust acceleration
    std::vector<double> s_values;            // bound on |u_k|
    std::vector<double> time_points;
    std::string status;                      // "Solved" or "AlmostSolved"
    double objective = 0.0;                  // final log-mass
    double final_mass = 0.0;
    double time_of_flight = 0.0;
};

// Solves at time of flight `tof`; the caller's configuration is only read. Returns the
// trajectory or an error text ("solver status: ...", "solver construction error: ...", or
// the node-count text). Throws InternalFault only for a broken invariant.
Result<Trajectory> solve_fixed(const config::Config& config, double tof);

}  // namespace tarvo_core::solve
