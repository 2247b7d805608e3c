// Producers of the inequality groups: one item per node k = 0 .. N-1 in ascending order.
// Rows follow the solver's convention: slack = rhs - sum(coefficient * x[column]).
#pragma once

#include <vector>

#include "reference_profile.hpp"
#include "assemble.hpp"
#include "tarvo_core/config.hpp"
#include "variable_layout.hpp"

namespace tarvo_core::assemble {

// sin(radians(angle)). Exactly 0.0 selects altitude rows, anything else glide-slope blocks.
double glide_slope_sine(double angle_deg);

// Height floor r_k,2 >= 0 (nonnegative cone).
std::vector<Row> altitude_rows(const VariableLayout& at);

// |sine| * ||r_k|| <= r_k,2, cones of dimension 4 with their apex at the frame's origin.
std::vector<SocBlock> glide_slope_blocks(const VariableLayout& at, double sine);

// First-order upper thrust bound z_k + c_k sigma_k <= 1 + z0_k for every node, followed by the
// single dry-mass row z_{N-1} >= ln(m_wet - m_fuel): N + 1 rows of the nonnegative cone.
std::vector<Row> upper_thrust_and_dry_mass_rows(const VariableLayout& at,
                                                const ReferenceProfile& profile,
                                                const config::Spacecraft& spacecraft);

// Speed limit ||v_k|| <= max_velocity, dimension 4; the head row has no terms.
std::vector<SocBlock> velocity_blocks(const VariableLayout& at, double max_velocity);

// ||u_k|| <= sigma_k, dimension 4.
std::vector<SocBlock> thrust_magnitude_blocks(const VariableLayout& at);

// Second-order lower thrust bound about z0_k, dimension 3; coefficients -inf when d_k is.
std::vector<SocBlock> lower_thrust_blocks(const VariableLayout& at,
                                          const ReferenceProfile& profile);

}  // namespace tarvo_core::assemble
