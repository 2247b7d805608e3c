// Fixed-horizon solve: assemble the cone program for one time of flight, hand it to
// Clarabel, accept Solved or AlmostSolved, and read the primal solution into a Trajectory.
#include "tarvo_core/solve.hpp"

#include <string>
#include <utility>
#include <variant>

#include "assemble.hpp"
#include "clarabel_bridge/clarabel.hpp"
#include "extract_trajectory.hpp"
#include "tarvo_core/fault.hpp"

namespace tarvo_core::solve {
namespace {

using clarabel_bridge::SolverStatus;

// The solver's outcome: its solution, or the error text of a refusal or an unusable status.
Result<clarabel_bridge::Solution> run_solver(const assemble::Problem& problem) {
    auto copied = clarabel_bridge::ProblemData::copy_in(problem.P, problem.q, problem.A,
                                                        problem.b, problem.cones);
    if (auto* panic = std::get_if<clarabel_bridge::Panic>(&copied)) {
        throw InternalFault(panic->message);
    }
    auto outcome = std::get<clarabel_bridge::ProblemData>(copied).solve();
    if (auto* panic = std::get_if<clarabel_bridge::Panic>(&outcome)) {
        throw InternalFault(panic->message);
    }
    if (auto* error = std::get_if<clarabel_bridge::SolverError>(&outcome)) {
        return "solver construction error: " + error->display;
    }
    auto& solution = std::get<clarabel_bridge::Solution>(outcome);
    if (solution.status != SolverStatus::Solved && solution.status != SolverStatus::AlmostSolved) {
        return "solver status: " + clarabel_bridge::status_name(solution.status);
    }
    return std::move(solution);
}

}  // namespace

Result<Trajectory> solve_fixed(const config::Config& config, double tof) {
    Result<assemble::Horizon> horizon = assemble::Horizon::of(config.solver.n, tof);
    if (!horizon) {
        return std::move(horizon).error();
    }
    const assemble::Problem problem = assemble::build_problem(config, horizon.value());
    Result<clarabel_bridge::Solution> solution = run_solver(problem);
    if (!solution) {
        return std::move(solution).error();
    }
    Trajectory trajectory = extract_trajectory(solution.value().x, horizon.value(),
                                               config.spacecraft.real_max_thrust);
    trajectory.status = clarabel_bridge::status_name(solution.value().status);
    return trajectory;
}

}  // namespace tarvo_core::solve
