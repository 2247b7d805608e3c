// Thrust bounds and the reference log-mass profile about which the thrust bounds are expanded.
#pragma once

#include <cstddef>
#include <vector>

#include "assemble.hpp"
#include "tarvo_core/config.hpp"

namespace tarvo_core::assemble {

// rho1 = T_max * p_min (lower) and rho2 = T_max * p_max (upper), in newtons.
struct ThrustBounds {
    double lower = 0.0;
    double upper = 0.0;
};

ThrustBounds thrust_bounds(const config::Spacecraft& spacecraft);

// The time of flight at which the reference mass, m_wet - alpha rho2 t, reaches zero (+inf
// when rho2 is 0). Up to it every node's reference mass is positive: the program is defined.
double reference_mass_lasts(const config::Spacecraft& spacecraft, ThrustBounds bounds);

// One entry per node: z0 (reference log-mass), c = 1 / (rho2 e^-z0) for the upper-thrust rows,
// d = 1 / (rho1 e^-z0) for the lower-thrust blocks (+inf when rho1 is exactly 0).
struct ReferenceProfile {
    std::vector<double> z0;
    std::vector<double> c;
    std::vector<double> d;
};

// The mass the vehicle would have at t_k burning at the upper bound from the start, in logs.
// Nothing is guarded: a reference mass at or below zero gives non-finite entries.
ReferenceProfile reference_profile(const config::Spacecraft& spacecraft, ThrustBounds bounds,
                                   const Horizon& horizon);

// The profile about a given log-mass, one entry per node, with the upper bound of each node
// lowered by its margin: c_k = 1 / (rho2 (1 - margin_k) e^-z_k).
ReferenceProfile profile_about(const std::vector<double>& log_mass,
                               const std::vector<double>& margin, ThrustBounds bounds);

}  // namespace tarvo_core::assemble
