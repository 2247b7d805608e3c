// Assembly of the whole cone program: reference profile, objective, equality and inequality
// groups, their stacking into rows and cones, and A in compressed-sparse-column form. The
// planning layer's additions (formulation.hpp) come after every group of the fixed program.
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "assemble.hpp"
#include "cone_rows.hpp"
#include "formulation.hpp"
#include "reference_profile.hpp"
#include "tarvo_core/fault.hpp"
#include "variable_layout.hpp"

namespace tarvo_core::assemble {
namespace {

// True when per_node * n + fixed items, and their bytes at bytes_each, fit in a size_t.
bool array_fits(std::uint64_t n, std::size_t per_node, std::size_t fixed, std::size_t bytes_each) {
    std::size_t count = 0;
    std::size_t bytes = 0;
    return !__builtin_mul_overflow(n, per_node, &count) &&
           !__builtin_add_overflow(count, fixed, &count) &&
           !__builtin_mul_overflow(count, bytes_each, &bytes);
}

// The program's largest arrays: colptr (11N+1), the rows and b (at most 23N+7) and the stored
// entries of A (at most 49N-17, each a row index and a value).
bool program_sizes_fit(std::uint64_t n) {
    return array_fits(n, 11, 1, sizeof(std::size_t)) && array_fits(n, 23, 7, sizeof(Row)) &&
           array_fits(n, 49, 0, sizeof(std::size_t) + sizeof(double));
}

struct InequalityGroups {
    std::vector<Row> altitude;          // empty when the glide-slope sine is not 0.0
    std::vector<SocBlock> glide_slope;  // empty when it is
    std::vector<Row> upper_thrust_and_dry_mass;
    std::vector<SocBlock> velocity;
    std::vector<SocBlock> thrust_magnitude;
    std::vector<SocBlock> lower_thrust;
};

InequalityGroups inequality_groups(const config::Config& config, const VariableLayout& at,
                                   const ReferenceProfile& profile,
                                   const Formulation& formulation) {
    InequalityGroups groups;
    const double sine = glide_slope_sine(config.environment.glide_slope_angle_deg);
    if (sine == 0.0) {
        groups.altitude = altitude_rows(at);
    } else {
        groups.glide_slope = glide_slope_blocks(at, sine);
    }
    groups.upper_thrust_and_dry_mass =
        upper_thrust_and_dry_mass_rows(at, profile, config.spacecraft);
    if (!formulation.fuel_limit) {
        groups.upper_thrust_and_dry_mass.pop_back();  // the dry-mass row comes last
    }
    if (formulation.speed_limit) {
        groups.velocity = velocity_blocks(at, config.spacecraft.max_velocity);
    }
    groups.thrust_magnitude = thrust_magnitude_blocks(at);
    if (formulation.lower_thrust) {
        groups.lower_thrust = lower_thrust_blocks(at, profile);
    }
    return groups;
}

// What a Formulation adds: empty for the fixed program.
struct AddedGroups {
    std::vector<Row> pointing;        // a nonnegative cone of its own
    std::vector<SocBlock> terminal;   // the distance of the last node from the target
    std::vector<Row> inner_altitude;  // a nonnegative cone of its own
    std::vector<SocBlock> between_nodes;  // inner glide-slope and speed blocks
    std::vector<SocBlock> thrust_floor;
};

void add_between_nodes(AddedGroups& added, const config::Config& config,
                       const VariableLayout& at, const Horizon& horizon,
                       const Formulation& formulation) {
    const double dt = horizon.dt();
    const double sine = glide_slope_sine(config.environment.glide_slope_angle_deg);
    if (sine == 0.0) {
        added.inner_altitude = inner_altitude_rows(at, dt);
    } else {
        added.between_nodes = inner_glide_slope_blocks(at, dt, sine);
    }
    if (formulation.speed_limit) {
        std::vector<SocBlock> speed = inner_velocity_blocks(
            at, dt, config.environment.gravity, config.spacecraft.max_velocity);
        added.between_nodes.insert(added.between_nodes.end(),
                                   std::make_move_iterator(speed.begin()),
                                   std::make_move_iterator(speed.end()));
    }
}

AddedGroups added_groups(const config::Config& config, const VariableLayout& at,
                         const Horizon& horizon, const Formulation& formulation) {
    AddedGroups added;
    if (formulation.pointing) {
        added.pointing = pointing_rows(at, *formulation.pointing);
    }
    if (formulation.terminal_plane) {
        added.terminal.push_back(terminal_distance_block(at, *formulation.terminal_plane,
                                                         config.spacecraft.target_position));
    }
    if (formulation.hold_between_nodes) {
        add_between_nodes(added, config, at, horizon, formulation);
    }
    if (formulation.thrust_about) {
        added.thrust_floor = thrust_floor_blocks(at, *formulation.thrust_about);
    }
    return added;
}

// The thrust bounds' expansion profile: about the maximum-burn mass, or as the formulation says.
ReferenceProfile thrust_profile(const config::Config& config, const Horizon& horizon,
                                const Formulation& formulation) {
    const ThrustBounds bounds = thrust_bounds(config.spacecraft);
    if (const std::optional<ThrustAbout>& about = formulation.thrust_about) {
        return profile_about(about->reference, about->ceiling_margin, bounds);
    }
    return reference_profile(config.spacecraft, bounds, horizon);
}

// The rows of A in order (borrowed from the groups) and the cone that covers each run of them.
struct StackedRows {
    std::vector<const Row*> rows;
    std::vector<clarabel_bridge::SupportedConeT> cones;
};

std::size_t row_count(const std::vector<SocBlock>& blocks) {
    std::size_t count = 0;
    for (const SocBlock& block : blocks) count += block.rows.size();
    return count;
}

void append_rows(StackedRows& stacked, const std::vector<Row>& rows) {
    for (const Row& row : rows) stacked.rows.push_back(&row);
}

// Each block brings its own second-order cone, of the block's dimension, then its rows.
void append_blocks(StackedRows& stacked, const std::vector<SocBlock>& blocks) {
    for (const SocBlock& block : blocks) {
        stacked.cones.push_back(clarabel_bridge::SecondOrderConeT(block.dim));
        append_rows(stacked, block.rows);
    }
}

StackedRows stack(const std::vector<Row>& equalities, const InequalityGroups& g,
                  const AddedGroups& added) {
    StackedRows stacked;
    const std::size_t nonnegative = g.altitude.size() + g.upper_thrust_and_dry_mass.size();
    stacked.rows.reserve(equalities.size() + nonnegative + row_count(g.velocity) +
                         row_count(g.thrust_magnitude) + row_count(g.glide_slope) +
                         row_count(g.lower_thrust) + added.pointing.size() +
                         row_count(added.terminal) + added.inner_altitude.size() +
                         row_count(added.between_nodes) + row_count(added.thrust_floor));
    stacked.cones.reserve(2 + g.velocity.size() + g.thrust_magnitude.size() +
                          g.glide_slope.size() + g.lower_thrust.size() + 1 +
                          added.terminal.size() + 1 + added.between_nodes.size() +
                          added.thrust_floor.size());

    stacked.cones.push_back(clarabel_bridge::ZeroConeT(equalities.size()));
    append_rows(stacked, equalities);
    stacked.cones.push_back(clarabel_bridge::NonnegativeConeT(nonnegative));
    append_rows(stacked, g.altitude);
    append_rows(stacked, g.upper_thrust_and_dry_mass);
    append_blocks(stacked, g.velocity);
    append_blocks(stacked, g.thrust_magnitude);
    append_blocks(stacked, g.glide_slope);
    append_blocks(stacked, g.lower_thrust);
    if (!added.pointing.empty()) {
        stacked.cones.push_back(clarabel_bridge::NonnegativeConeT(added.pointing.size()));
        append_rows(stacked, added.pointing);
    }
    append_blocks(stacked, added.terminal);
    if (!added.inner_altitude.empty()) {
        stacked.cones.push_back(clarabel_bridge::NonnegativeConeT(added.inner_altitude.size()));
        append_rows(stacked, added.inner_altitude);
    }
    append_blocks(stacked, added.between_nodes);
    append_blocks(stacked, added.thrust_floor);
    return stacked;
}

std::vector<double> right_hand_sides(const std::vector<const Row*>& rows) {
    std::vector<double> b;
    b.reserve(rows.size());
    for (const Row* row : rows) b.push_back(row->rhs);
    return b;
}

// One pass of counting and one of filling. Rows are visited in ascending order, so every
// column receives its entries sorted by row, exactly as a stable sort of per-column lists
// would leave them. Every term becomes one entry, zero and non-finite coefficients included.
clarabel_bridge::CscMatrix column_wise_matrix(const std::vector<const Row*>& rows,
                                       std::size_t column_count) {
    std::vector<std::size_t> colptr(column_count + 1, 0);
    for (const Row* row : rows) {
        for (const auto& [column, coefficient] : row->terms) {
            if (column >= column_count) throw InternalFault("row term beyond the last variable");
            ++colptr[column + 1];
        }
    }
    for (std::size_t j = 0; j < column_count; ++j) colptr[j + 1] += colptr[j];

    std::vector<std::size_t> next(colptr.begin(), colptr.end() - 1);
    std::vector<std::size_t> rowval(colptr.back());
    std::vector<double> nzval(colptr.back());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        for (const auto& [column, coefficient] : rows[i]->terms) {
            const std::size_t slot = next[column]++;
            rowval[slot] = i;
            nzval[slot] = coefficient;
        }
    }
    return clarabel_bridge::CscMatrix::new_(rows.size(), column_count, std::move(colptr),
                                     std::move(rowval), std::move(nzval));
}

// Minimise -z_{N-1}: maximise the final log-mass (weighted); or minimise the distance
// epigraph variable when the formulation asks for the nearest landing point.
std::vector<double> objective(const VariableLayout& at, const Formulation& formulation) {
    std::vector<double> q(variable_count(at, formulation), 0.0);
    if (formulation.minimises_distance()) {
        q[distance_column(at)] = 1.0;
    } else {
        q[at.log_mass(at.n - 1)] = -formulation.mass_weight;
    }
    return q;
}

}  // namespace

std::optional<std::string> node_count_error(std::uint64_t n) {
    if (n == 0) return std::string("n must be at least 1 node");
    if (!program_sizes_fit(n)) {
        return "n = " + std::to_string(n) + " is too large: the sizes of the program overflow";
    }
    if (n > max_node_count) {
        return "n = " + std::to_string(n) + " is too large: at most " +
               std::to_string(max_node_count) + " nodes are supported";
    }
    return std::nullopt;
}

Result<Horizon> Horizon::of(std::uint64_t n, double time_of_flight) {
    if (auto error = node_count_error(n)) {
        return Failure::invalid_input(std::move(*error));
    }
    return Horizon(static_cast<std::size_t>(n), time_of_flight);
}

Problem build_problem(const config::Config& config, const Horizon& horizon) {
    return build_problem(config, horizon, Formulation{});
}

Problem build_problem(const config::Config& config, const Horizon& horizon,
                      const Formulation& formulation) {
    const VariableLayout at{horizon.node_count()};
    const ReferenceProfile profile = thrust_profile(config, horizon, formulation);
    std::vector<Row> equalities = equality_rows(config, horizon);
    if (formulation.terminal_plane) {
        free_terminal_position(equalities, at, formulation.terminal_plane->up,
                               config.spacecraft.target_position);
    }
    const InequalityGroups groups = inequality_groups(config, at, profile, formulation);
    const AddedGroups added = added_groups(config, at, horizon, formulation);
    StackedRows stacked = stack(equalities, groups, added);

    Problem problem;
    const std::size_t variables = variable_count(at, formulation);
    problem.P = clarabel_bridge::CscMatrix::spalloc(variables, variables, 0);
    problem.q = objective(at, formulation);
    problem.A = column_wise_matrix(stacked.rows, variables);
    problem.b = right_hand_sides(stacked.rows);
    problem.cones = std::move(stacked.cones);
    return problem;
}

}  // namespace tarvo_core::assemble
