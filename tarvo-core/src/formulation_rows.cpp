// Rows and blocks that the planning layer adds to the landing program (see formulation.hpp).
#include <array>
#include <cmath>
#include <cstddef>
#include <iterator>
#include <vector>

#include "formulation.hpp"
#include "tarvo_core/fault.hpp"

namespace tarvo_core::assemble {

std::size_t variable_count(const VariableLayout& at, const Formulation& formulation) {
    return at.variable_count() + (formulation.minimises_distance() ? 1 : 0);
}

std::vector<Row> pointing_rows(const VariableLayout& at, const ThrustPointing& pointing) {
    std::vector<Row> rows;
    rows.reserve(at.n);
    for (std::size_t k = 0; k < at.n; ++k) {
        rows.push_back(Row{{{at.acceleration_bound(k), pointing.cosine},
                            {at.thrust_acceleration(k, 0), -pointing.axis[0]},
                            {at.thrust_acceleration(k, 1), -pointing.axis[1]},
                            {at.thrust_acceleration(k, 2), -pointing.axis[2]}},
                           0.0});
    }
    return rows;
}

void free_terminal_position(std::vector<Row>& equalities, const VariableLayout& at,
                            const config::Vec3& up, const config::Vec3& target) {
    const std::size_t first = 7 * at.n;  // the terminal rows follow the 7N initial and interval rows
    if (equalities.size() != first + 6) {
        throw InternalFault("equality rows do not end with the six terminal rows");
    }
    const std::size_t last = at.n - 1;
    Row plane{{{at.position(last, 0), up[0]},
               {at.position(last, 1), up[1]},
               {at.position(last, 2), up[2]}},
              up[0] * target[0] + up[1] * target[1] + up[2] * target[2]};
    const auto position_rows = equalities.begin() + static_cast<std::ptrdiff_t>(first);
    *position_rows = std::move(plane);
    equalities.erase(std::next(position_rows), std::next(position_rows, 3));
}

SocBlock terminal_distance_block(const VariableLayout& at, const TerminalPlane& plane,
                                 const config::Vec3& target) {
    const std::size_t last = at.n - 1;
    Row head = plane.minimises_distance() ? Row{{{distance_column(at), -1.0}}, 0.0}
                                          : Row{{}, *plane.max_distance};
    SocBlock block{{std::move(head)}, 4};
    for (std::size_t i = 0; i < 3; ++i) {
        block.rows.push_back(Row{{{at.position(last, i), 1.0}}, target[i]});  // target - r
    }
    return block;
}

namespace {

// The inner position control points of interval k: r_k + dt/3 v_k and r_{k+1} - dt/3 v_{k+1}.
struct InnerPoint {
    std::size_t node;
    double velocity_weight;
};

std::array<InnerPoint, 2> inner_points(std::size_t k, double dt) {
    return {InnerPoint{k, dt / 3.0}, InnerPoint{k + 1, dt / -3.0}};
}

// The row whose slack is `scale` times component `axis` of the control point.
Row control_point_row(const VariableLayout& at, const InnerPoint& point, std::size_t axis,
                      double scale) {
    return Row{{{at.position(point.node, axis), -scale},
                {at.velocity(point.node, axis), -scale * point.velocity_weight}},
               0.0};
}

}  // namespace

std::vector<Row> inner_altitude_rows(const VariableLayout& at, double dt) {
    std::vector<Row> rows;
    for (std::size_t k = 0; k + 1 < at.n; ++k) {
        for (const InnerPoint& point : inner_points(k, dt)) {
            rows.push_back(control_point_row(at, point, 2, 1.0));
        }
    }
    return rows;
}

std::vector<SocBlock> inner_glide_slope_blocks(const VariableLayout& at, double dt, double sine) {
    std::vector<SocBlock> blocks;
    for (std::size_t k = 0; k + 1 < at.n; ++k) {
        for (const InnerPoint& point : inner_points(k, dt)) {
            blocks.push_back(SocBlock{{control_point_row(at, point, 2, 1.0),
                                       control_point_row(at, point, 0, sine),
                                       control_point_row(at, point, 1, sine),
                                       control_point_row(at, point, 2, sine)},
                                      4});
        }
    }
    return blocks;
}

std::vector<SocBlock> inner_velocity_blocks(const VariableLayout& at, double dt,
                                            const config::Vec3& gravity, double max_velocity) {
    std::vector<SocBlock> blocks;
    for (std::size_t k = 0; k + 1 < at.n; ++k) {
        SocBlock block{{Row{{}, max_velocity}}, 4};
        for (std::size_t i = 0; i < 3; ++i) {
            block.rows.push_back(Row{{{at.velocity(k, i), -1.0},
                                      {at.thrust_acceleration(k, i), -dt / 2.0}},
                                     dt / 2.0 * gravity[i]});
        }
        blocks.push_back(std::move(block));
    }
    return blocks;
}

// Slacks w + delta, 2 delta and w + delta - 2: the cone states (w + delta)^2 >=
// 4 delta^2 + (w + delta - 2)^2, that is w + delta - 1 >= delta^2.
std::vector<SocBlock> thrust_floor_blocks(const VariableLayout& at, const ThrustAbout& about) {
    std::vector<SocBlock> blocks;
    for (std::size_t k = 0; k < about.floor_direction.size(); ++k) {
        const config::Vec3& d = about.floor_direction[k];
        const double floor = about.floor_thrust * (1.0 + about.floor_margin[k]);
        for (const std::size_t j : {k, k + 1}) {
            const double reference = about.reference[j];
            const double scale = std::exp(reference) / floor;  // w per unit of d . u_j
            const std::size_t z = at.log_mass(j);
            Row head{{{at.thrust_acceleration(j, 0), -scale * d[0]},
                      {at.thrust_acceleration(j, 1), -scale * d[1]},
                      {at.thrust_acceleration(j, 2), -scale * d[2]},
                      {z, -1.0}},
                     -reference};
            Row tail = head;
            tail.rhs -= 2.0;
            blocks.push_back(SocBlock{{std::move(head), Row{{{z, -2.0}}, -2.0 * reference},
                                       std::move(tail)},
                                      3});
        }
    }
    return blocks;
}

}  // namespace tarvo_core::assemble
