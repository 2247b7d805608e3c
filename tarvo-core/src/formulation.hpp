// What the planning layer may add to the landing program: a thrust-pointing cone, a terminal
// position freed onto the target's horizontal plane, and a weight on the final log-mass.
// A default Formulation adds nothing: build_problem then assembles exactly the fixed program.
#pragma once

#include <optional>
#include <vector>

#include "assemble.hpp"
#include "tarvo_core/config.hpp"
#include "variable_layout.hpp"

namespace tarvo_core::assemble {

// The thrust acceleration stays within an angle of `axis` (a unit vector):
// axis . u_k >= cosine * sigma_k at every node.
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

struct Formulation {
    std::optional<ThrustPointing> pointing;
    std::optional<TerminalPlane> terminal_plane;
    double mass_weight = 1.0;  // cost -mass_weight * z_{N-1}; 1 is the fixed program's cost

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

}  // namespace tarvo_core::assemble
