// Fixed-horizon solve: assemble the cone program for one time of flight, hand it to
// Clarabel, accept Solved or AlmostSolved, and read the primal solution into a Trajectory.
#include "tarvo_core/solve.hpp"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <variant>

#include "assemble.hpp"
#include "clarabel_bridge/clarabel.hpp"
#include "extract_trajectory.hpp"
#include "solve_program.hpp"
#include "tarvo_core/fault.hpp"
#include "validation.hpp"
#include "variable_layout.hpp"

namespace tarvo_core::solve {
namespace {

using clarabel_bridge::SolverStatus;

bool is_cancelled(const SolverSettings& settings) {
    return settings.cancel != nullptr && settings.cancel->load(std::memory_order_relaxed);
}

clarabel_bridge::Settings bridge_settings(const SolverSettings& settings) {
    clarabel_bridge::Settings bridge;
#define TARVO_COPY_TOLERANCE(name) bridge.name = settings.name;
    CLARABEL_BRIDGE_TOLERANCES(TARVO_COPY_TOLERANCE)
#undef TARVO_COPY_TOLERANCE
    bridge.max_iter = settings.max_iter;
    if (settings.cancel != nullptr) {
        bridge.should_stop = [&settings] { return is_cancelled(settings); };
    }
    return bridge;
}

SolverFigures figures_of(const clarabel_bridge::SolverFigures& info) {
    return {info.iterations, info.solve_time, info.gap_abs,
            info.gap_rel,    info.res_primal, info.res_dual};
}

std::string status_text(SolverStatus status) {
    return "solver status: " + clarabel_bridge::status_name(status);
}

// A status that is no landing; CallbackTerminated is the cancel flag's doing.
Failure status_failure(SolverStatus status) {
    if (status == SolverStatus::CallbackTerminated) {
        return cancelled();
    }
    return {FailureKind::solver_status, status_text(status), clarabel_bridge::status_name(status)};
}

// The solver's outcome: its solution, or why a refusal or an unusable status gives none.
// `iterations`, when not null, receives the iteration count of a solver that ran.
Result<clarabel_bridge::Solution> run_solver(const assemble::Problem& problem,
                                             const SolverSettings& settings,
                                             std::uint32_t* iterations) {
    auto copied = clarabel_bridge::ProblemData::copy_in(problem.P, problem.q, problem.A,
                                                        problem.b, problem.cones);
    if (auto* panic = std::get_if<clarabel_bridge::Panic>(&copied)) {
        throw InternalFault(panic->message);
    }
    auto outcome = std::get<clarabel_bridge::ProblemData>(copied).solve(bridge_settings(settings));
    if (auto* panic = std::get_if<clarabel_bridge::Panic>(&outcome)) {
        throw InternalFault(panic->message);
    }
    if (auto* error = std::get_if<clarabel_bridge::SolverError>(&outcome)) {
        return Failure{FailureKind::solver_error, "solver construction error: " + error->display,
                       {}};
    }
    auto& solution = std::get<clarabel_bridge::Solution>(outcome);
    if (iterations != nullptr) {
        *iterations = solution.figures.iterations;
    }
    if (solution.status != SolverStatus::Solved && solution.status != SolverStatus::AlmostSolved) {
        return status_failure(solution.status);
    }
    return std::move(solution);
}

// The trajectory of an accepted solution, read from the first 11N entries of x (a formulation
// may append variables after the landing's).
Trajectory landing_of(const clarabel_bridge::Solution& solution,
                      const assemble::Horizon& horizon, double real_max_thrust) {
    const std::span<const double> x = solution.x;
    const std::size_t landing_variables =
        assemble::VariableLayout{horizon.node_count()}.variable_count();
    if (x.size() < landing_variables) {
        throw InternalFault("solution vector holds fewer than 11 entries per node");
    }
    Trajectory trajectory =
        extract_trajectory(x.first(landing_variables), horizon, real_max_thrust);
    trajectory.status = clarabel_bridge::status_name(solution.status);
    trajectory.solver = figures_of(solution.figures);
    return trajectory;
}

}  // namespace

std::string cancelled_text() { return status_text(SolverStatus::CallbackTerminated); }

Failure cancelled() { return {FailureKind::cancelled, cancelled_text(), {}}; }

Result<Trajectory> solve_formulated(const config::Config& config, double tof,
                                    const assemble::Formulation& formulation,
                                    const SolverSettings& settings, std::uint32_t* iterations) {
    if (iterations != nullptr) {
        *iterations = 0;
    }
    if (auto failure = fixed_input_failure(config, tof)) {
        return std::move(*failure);
    }
    Result<assemble::Horizon> horizon = assemble::Horizon::of(config.solver.n, tof);
    if (!horizon) {
        return std::move(horizon).error();
    }
    if (is_cancelled(settings)) {  // no assembly for a solve that would stop at once
        return cancelled();
    }
    const assemble::Problem problem =
        assemble::build_problem(config, horizon.value(), formulation);
    if (is_cancelled(settings)) {  // the solver's setup, not interruptible, would follow
        return cancelled();
    }
    Result<clarabel_bridge::Solution> solution = run_solver(problem, settings, iterations);
    if (!solution) {
        return std::move(solution).error();
    }
    return landing_of(solution.value(), horizon.value(), config.spacecraft.real_max_thrust);
}

Result<Trajectory> solve_fixed(const config::Config& config, double tof,
                               const SolverSettings& settings) {
    return solve_formulated(config, tof, assemble::Formulation{}, settings);
}

}  // namespace tarvo_core::solve
