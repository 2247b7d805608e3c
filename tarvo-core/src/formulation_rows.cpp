// Rows and blocks that the planning layer adds to the landing program (see formulation.hpp).
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

}  // namespace tarvo_core::assemble
