//! One solve on a copied program: `DefaultSolver::new`, the stop hook, `solve()`, then the
//! status, the solver's final figures and the primal vector x. The solver lives only for this
//! call.

use clarabel::solver::{DefaultInfo, DefaultSolver, IPSolver};

use crate::guard::{invalid, Failure};
use crate::problem::Problem;
use crate::settings::{to_settings, SettingsRecord, StopRequest};
use crate::status::status_code;

/// How the solve ended, as the crate's `DefaultInfo` reports it.
#[repr(C)]
pub struct SolveInfo {
    pub status: u32,
    pub iterations: u32,
    pub solve_time: f64,
    pub gap_abs: f64,
    pub gap_rel: f64,
    pub res_primal: f64,
    pub res_dual: f64,
}

fn solve_info(info: &DefaultInfo<f64>) -> SolveInfo {
    SolveInfo {
        status: status_code(info.status),
        iterations: info.iterations,
        solve_time: info.solve_time,
        gap_abs: info.gap_abs,
        gap_rel: info.gap_rel,
        res_primal: info.res_primal,
        res_dual: info.res_dual,
    }
}

/// Solves and copies x into `x_out`, which must hold exactly one entry per variable.
pub fn solve(
    problem: &Problem,
    record: &SettingsRecord,
    x_out: &mut [f64],
) -> Result<SolveInfo, Failure> {
    let p = problem;
    let settings = to_settings(record)?;
    let mut solver = DefaultSolver::new(&p.P, &p.q, &p.A, &p.b, &p.cones, settings)
        .map_err(|error| Failure::SolverError(error.to_string()))?;
    if let Some(request) = StopRequest::from_record(record) {
        solver.set_termination_callback(move |_: &DefaultInfo<f64>| request.should_stop());
    }
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
    Ok(solve_info(&solver.info))
}
