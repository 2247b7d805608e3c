// What the planning layer may add to the landing program: a thrust-pointing cone, a terminal
// position freed onto the target's horizontal plane, a weight on the final log-mass, and the
// rows that hold the limits between the nodes. A default Formulation adds nothing:
// build_problem then assembles exactly the fixed program.
#pragma once

#include <optional>
#include <vector>

#include "assemble.hpp"
#include "tarvo_core/config.hpp"
#include "variable_layout.hpp"

namespace tarvo_core::assemble {

// The thrust acceleration stays within an angle of `axis` (a unit vector):
// axis . u_k >= cosine * sigma_k at every node. Within 90 degrees the cone is convex, so u(t),
// linear between two nodes inside it, stays inside it between them.
struct ThrustPointing {
    config::Vec3 axis;
    double cosine = 0.0;
};

// The last node may land anywhere on the plane through the target normal to `up` (a unit
// vector). Without max_distance the program minimises the distance to the target (an
// epigraph variable after the 11N landing variables carries it); with it, the distance is
// bounded and the final log-mass maximised as usual.
struct TerminalPlane {
    config::Vec3 up;
    std::optional<double> max_distance;

    bool minimises_distance() const { return !max_distance.has_value(); }
};

// Thrust bounds taken about a known landing (for the continuous method, the first solve's):
// - both log-mass expansions about `reference` instead of the maximum-burn profile;
// - the upper bound of node k lowered to (1 - ceiling_margin[k]) of the maximum thrust;
// - when floor_direction is not empty, a floor on every interval k, linear in u: with
//   d_k = floor_direction[k] a unit vector, d_k . u_j >= floor_thrust (1 + floor_margin[k])
//   / m_j for j = k, k+1. u is linear between the nodes, so d_k . u(t), a lower bound of
//   |u(t)|, interpolates the two; the mass falls in between as exp of a nearly linear
//   function, and the margin covers the part of its fall that is not linear.
struct ThrustAbout {
    std::vector<double> reference;              // log-mass, one per node
    std::vector<double> ceiling_margin;         // a fraction of the maximum, one per node
    std::vector<config::Vec3> floor_direction;  // one per interval (N - 1), or none
    std::vector<double> floor_margin;           // a fraction, one per interval with a floor
    double floor_thrust = 0.0;                  // newtons, positive when there are floors
};

struct Formulation {
    std::optional<ThrustPointing> pointing;
    std::optional<TerminalPlane> terminal_plane;
    double mass_weight = 1.0;  // cost -mass_weight * z_{N-1}; 1 is the fixed program's cost
    // Position is cubic and velocity quadratic in t on every interval, each inside the hull of
    // its Bernstein control points; the limits held at the inner control points (two of
    // position, one of velocity, linear in the variables) hold at every instant, since the
    // speed ball, the glide cone and the half-space above the ground are convex.
    bool hold_between_nodes = false;
    bool speed_limit = true;  // false: no speed rows at all (an unlimited max_velocity)
    bool fuel_limit = true;   // false: no dry-mass row (the fuel a landing lacks is measurable)
    bool lower_thrust = true;  // false: no lower-thrust blocks (a minimum thrust of zero)
    std::optional<ThrustAbout> thrust_about;

    // True when the cost is the distance to the target (the epigraph variable), not the
    // weighted final log-mass.
    bool minimises_distance() const {
        return terminal_plane && terminal_plane->minimises_distance();
    }
};

// Column of the distance epigraph variable (present only when the program minimises the
// distance): right after the landing variables.
inline std::size_t distance_column(const VariableLayout& at) { return at.variable_count(); }

// Number of variables of the program: 11N, plus one for the distance epigraph.
std::size_t variable_count(const VariableLayout& at, const Formulation& formulation);

// The whole program with the formulation's additions.
Problem build_problem(const config::Config& config, const Horizon& horizon,
                      const Formulation& formulation);

// Pointing rows of the nonnegative cone: cosine sigma_k - axis . u_k <= 0, one per node.
std::vector<Row> pointing_rows(const VariableLayout& at, const ThrustPointing& pointing);

// Replaces the three terminal-position rows of `equalities` (rows 7N .. 7N+2, see
// equality_rows) by the single row up . r_{N-1} = up . target.
void free_terminal_position(std::vector<Row>& equalities, const VariableLayout& at,
                            const config::Vec3& up, const config::Vec3& target);

// ||r_{N-1} - target|| <= head, dimension 4, where head is the distance epigraph variable
// when the plane minimises the distance and the constant max_distance otherwise.
SocBlock terminal_distance_block(const VariableLayout& at, const TerminalPlane& plane,
                                 const config::Vec3& target);

// The height of both inner position control points of every interval: nonnegative rows.
std::vector<Row> inner_altitude_rows(const VariableLayout& at, double dt);

// The glide cone (as glide_slope_blocks) at both inner position control points of every
// interval.
std::vector<SocBlock> inner_glide_slope_blocks(const VariableLayout& at, double dt, double sine);

// ||v_k + dt/2 (g + u_k)|| <= max_velocity: the speed at the inner velocity control point.
std::vector<SocBlock> inner_velocity_blocks(const VariableLayout& at, double dt,
                                            const config::Vec3& gravity, double max_velocity);

// The floors of ThrustAbout, two blocks per interval, dimension 3: with w = d_k . u_j times
// e^reference_j / (floor_thrust (1 + floor_margin_k)) and delta = z_j - reference_j, they
// state w >= 1 - delta + delta^2, which exceeds exp(-delta) for every delta above -1.5.
std::vector<SocBlock> thrust_floor_blocks(const VariableLayout& at, const ThrustAbout& about);

}  // namespace tarvo_core::assemble
