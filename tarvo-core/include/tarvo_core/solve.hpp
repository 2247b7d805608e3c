// Fixed-horizon solve: one conic program for one time of flight, solved by Clarabel.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tarvo_core/config.hpp"
#include "tarvo_core/result.hpp"

namespace tarvo_core::solve {

// The solver settings a caller may change. An empty override keeps Clarabel's default, so a
// default-constructed SolverSettings solves with the solver's own defaults.
// A tolerance, when set, is finite and at least 0 (anything else is an InternalFault).
struct SolverSettings {
    std::optional<double> tol_gap_abs{};
    std::optional<double> tol_gap_rel{};
    std::optional<double> tol_feas{};
    std::optional<double> tol_infeas_abs{};
    std::optional<double> tol_infeas_rel{};
    std::optional<double> tol_ktratio{};
    std::optional<double> reduced_tol_gap_abs{};
    std::optional<double> reduced_tol_gap_rel{};
    std::optional<double> reduced_tol_feas{};
    std::optional<std::uint32_t> max_iter{};
    // Read before assembly and once per solver iteration; once true, the solve stops and
    // fails with cancelled_text(). Null: never cancelled.
    const std::atomic<bool>* cancel = nullptr;
};

// The solver's own figures at the end of the solve.
struct SolverFigures {
    std::uint32_t iterations = 0;
    double solve_time = 0.0;  // seconds
    double gap_abs = 0.0;     // duality gap, absolute and relative
    double gap_rel = 0.0;
    double res_primal = 0.0;  // primal and dual residuals
    double res_dual = 0.0;
};

// One landing trajectory; every list has one entry per node.
struct Trajectory {
    std::vector<config::Vec3> positions;
    std::vector<config::Vec3> velocities;
    std::vector<double> thrusts;             // |u_k| * exp(z_k)
    std::vector<double> normalized_thrusts;  // thrusts / real_max_thrust
    std::vector<double> z_values;            // log-mass
    std::vector<config::Vec3> u_values;      // thrust acceleration
    std::vector<double> s_values;            // bound on |u_k|
    std::vector<double> time_points;
    std::string status;                      // "Solved" or "AlmostSolved"
    double objective = 0.0;                  // final log-mass
    double final_mass = 0.0;
    double time_of_flight = 0.0;
    SolverFigures solver;
};

// The error text of a cancelled solve or search: "solver status: CallbackTerminated".
std::string cancelled_text();

// The failure of a cancelled solve or search: FailureKind::cancelled, cancelled_text().
Failure cancelled();

// Solves at time of flight `tof`; the caller's configuration is only read. Returns the
// trajectory or why there is none: invalid_input (the node-count text, or "invalid
// configuration: ..." for a time of flight that is not positive and finite or a negative or
// inverted thrust fraction), solver_status ("solver status: <name>"), solver_error ("solver
// construction error: ...") or cancelled. Throws InternalFault only for a broken invariant.
Result<Trajectory> solve_fixed(const config::Config& config, double tof,
                               const SolverSettings& settings = {});

}  // namespace tarvo_core::solve
