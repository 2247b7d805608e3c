// Fixed-horizon solve: assemble the cone program for one time of flight, hand it to
// Clarabel, accept Solved or AlmostSolved, and read the primal solution into a Trajectory.
#include "tarvo_core/solve.hpp"

#include <cmath>
#include <cstddef>
#include <limits>
#include <utility>
#include <variant>

#include "clarabel_bridge/clarabel.hpp"
#include "extract_trajectory.hpp"
#include "assemble.hpp"
#include "tarvo_core/fault.hpp"
#include "variable_layout.hpp"

namespace tarvo_core::solve {
namespace {

void check_solution_size(std::span<const double> x, std::uint64_t n) {
    const std::uint64_t limit = std::numeric_limits<std::size_t>::max() / 11;
    if (n == 0 || n > limit || x.size() != 11 * static_cast<std::size_t>(n)) {
        throw InternalFault("solution vector does not hold 11 entries per node");
    }
}

void reserve_lists(Trajectory& trajectory, std::size_t n) {
    trajectory.positions.reserve(n);
    trajectory.velocities.reserve(n);
    trajectory.thrusts.reserve(n);
    trajectory.normalized_thrusts.reserve(n);
    trajectory.z_values.reserve(n);
    trajectory.u_values.reserve(n);
    trajectory.s_values.reserve(n);
    trajectory.time_points.reserve(n);
}

Result<Trajectory> solve_problem(const assemble::Problem& problem, double tof,
                                 double real_max_thrust) {
    auto copied = clarabel_bridge::ProblemData::copy_in(problem.P, problem.q, problem.A,
                                                        problem.b, problem.cones);
    if (auto* panic = std::get_if<clarabel_bridge::Panic>(&copied)) {
        throw InternalFault(panic->message);
    }
    const auto& data = std::get<clarabel_bridge::ProblemData>(copied);
    auto outcome = data.solve();
    if (auto* panic = std::get_if<clarabel_bridge::Panic>(&outcome)) {
        throw InternalFault(panic->message);
    }
    if (auto* error = std::get_if<clarabel_bridge::SolverError>(&outcome)) {
        return std::string("solver construction error: ") + error->display;
    }
    const auto& solution = std::get<clarabel_bridge::Solution>(outcome);
    const std::string status = clarabel_bridge::status_name(solution.status);
    if (solution.status != clarabel_bridge::SolverStatus::Solved &&
        solution.status != clarabel_bridge::SolverStatus::AlmostSolved) {
        return "solver status: " + status;
    }
    return extract_trajectory(solution.x, problem.node_count, tof, real_max_thrust, status);
}

}  // namespace

Trajectory extract_trajectory(std::span<const double> x, std::uint64_t n, double tof,
                              double real_max_thrust, std::string status) {
    check_solution_size(x, n);
    const assemble::VariableLayout at{static_cast<std::size_t>(n)};
    Trajectory trajectory;
    reserve_lists(trajectory, at.n);
    const double dt = tof / static_cast<double>(n);
    for (std::size_t k = 0; k < at.n; ++k) {
        const double* r = &x[at.position(k, 0)];
        const double* v = &x[at.velocity(k, 0)];
        const double* u = &x[at.thrust(k, 0)];
        const double z = x[at.log_mass(k)];
        trajectory.positions.push_back({r[0], r[1], r[2]});
        trajectory.velocities.push_back({v[0], v[1], v[2]});
        trajectory.u_values.push_back({u[0], u[1], u[2]});
        trajectory.s_values.push_back(x[at.sigma(k)]);
        trajectory.z_values.push_back(z);
        const double thrust = std::sqrt((u[0] * u[0] + u[1] * u[1]) + u[2] * u[2]) * std::exp(z);
        trajectory.thrusts.push_back(thrust);
        trajectory.normalized_thrusts.push_back(thrust / real_max_thrust);
        trajectory.time_points.push_back(dt * static_cast<double>(k));
    }
    trajectory.status = std::move(status);
    trajectory.objective = trajectory.z_values.back();
    trajectory.final_mass = std::exp(trajectory.objective);
    trajectory.time_of_flight = tof;
    return trajectory;
}

Result<Trajectory> solve_fixed(const config::Config& config, double tof) {
    config::Config copy = config;
    copy.solver.time_of_flight = tof;
    if (auto error = assemble::node_count_error(copy.solver.n)) {
        return std::move(*error);
    }
    const assemble::Problem problem = assemble::build_problem(copy);
    return solve_problem(problem, tof, copy.spacecraft.real_max_thrust);
}

}  // namespace tarvo_core::solve
