//! One solve on a copied program: `DefaultSolver::new`, `solve()`, then the status and the
//! primal vector x. The solver lives only for this call.

use clarabel::solver::{DefaultSettings, DefaultSolver, IPSolver, SolverStatus};

use crate::guard::{invalid, Failure};
use crate::problem::Problem;

/// The status's position in the C++ enum, which lists the variants in the crate's order.
fn status_code(status: SolverStatus) -> u32 {
    match status {
        SolverStatus::Unsolved => 0,
        SolverStatus::Solved => 1,
        SolverStatus::PrimalInfeasible => 2,
        SolverStatus::DualInfeasible => 3,
        SolverStatus::AlmostSolved => 4,
        SolverStatus::AlmostPrimalInfeasible => 5,
        SolverStatus::AlmostDualInfeasible => 6,
        SolverStatus::MaxIterations => 7,
        SolverStatus::MaxTime => 8,
        SolverStatus::NumericalError => 9,
        SolverStatus::InsufficientProgress => 10,
        SolverStatus::CallbackTerminated => 11,
    }
}

/// Solves and copies x into `x_out`, which must hold exactly one entry per variable.
pub fn solve(
    problem: &Problem,
    settings: DefaultSettings<f64>,
    x_out: &mut [f64],
) -> Result<u32, Failure> {
    let p = problem;
    let mut solver = DefaultSolver::new(&p.P, &p.q, &p.A, &p.b, &p.cones, settings)
        .map_err(|error| Failure::SolverError(error.to_string()))?;
    solver.solve();
    let x = &solver.solution.x;
    if x.len() != x_out.len() {
        return Err(invalid(format!(
            "solution has {} entries, buffer holds {}",
            x.len(),
            x_out.len()
        )));
    }
    x_out.copy_from_slice(x);
    Ok(status_code(solver.solution.status))
}
