//! The solver's statuses across the C ABI. A status travels as the crate's own discriminant
//! (`SolverStatus` is `#[repr(C)]`, numbered in declaration order from `Unsolved` = 0), and
//! its name is the crate's own text for it, so the bridge keeps no table of its own.

use clarabel::solver::SolverStatus;

/// Every status the crate declares, to find one by its code.
const STATUSES: [SolverStatus; 12] = [
    SolverStatus::Unsolved,
    SolverStatus::Solved,
    SolverStatus::PrimalInfeasible,
    SolverStatus::DualInfeasible,
    SolverStatus::AlmostSolved,
    SolverStatus::AlmostPrimalInfeasible,
    SolverStatus::AlmostDualInfeasible,
    SolverStatus::MaxIterations,
    SolverStatus::MaxTime,
    SolverStatus::NumericalError,
    SolverStatus::InsufficientProgress,
    SolverStatus::CallbackTerminated,
];

pub fn status_code(status: SolverStatus) -> u32 {
    status as u32
}

/// The crate's name of the status with this code ("Solved", ...); None for no such status.
pub fn status_name(code: u32) -> Option<String> {
    STATUSES
        .iter()
        .find(|status| status_code(**status) == code)
        .map(|status| status.to_string())
}
