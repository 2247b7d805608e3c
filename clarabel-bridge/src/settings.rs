//! The solver settings as a flat C record, converted to and from `DefaultSettings`.
//! Flags travel as bytes (0 false, anything else true) so that no byte from C can form an
//! invalid Rust `bool`.

use std::ffi::c_char;

use clarabel::solver::DefaultSettings;

use crate::guard::{invalid, Failure};

/// Room for `direct_solve_method`; every method name the crate knows is far shorter.
pub const METHOD_CAPACITY: usize = 64;

#[repr(C)]
pub struct SettingsRecord {
    pub max_iter: u32,
    pub time_limit: f64,
    pub verbose: u8,
    pub max_step_fraction: f64,
    pub tol_gap_abs: f64,
    pub tol_gap_rel: f64,
    pub tol_feas: f64,
    pub tol_infeas_abs: f64,
    pub tol_infeas_rel: f64,
    pub tol_ktratio: f64,
    pub reduced_tol_gap_abs: f64,
    pub reduced_tol_gap_rel: f64,
    pub reduced_tol_feas: f64,
    pub reduced_tol_infeas_abs: f64,
    pub reduced_tol_infeas_rel: f64,
    pub reduced_tol_ktratio: f64,
    pub equilibrate_enable: u8,
    pub equilibrate_max_iter: u32,
    pub equilibrate_min_scaling: f64,
    pub equilibrate_max_scaling: f64,
    pub linesearch_backtrack_step: f64,
    pub min_switch_step_length: f64,
    pub min_terminate_step_length: f64,
    pub max_threads: u32,
    pub direct_kkt_solver: u8,
    /// The method name's bytes, not NUL-terminated; `direct_solve_method_len` of them count.
    pub direct_solve_method: [c_char; METHOD_CAPACITY],
    pub direct_solve_method_len: usize,
    pub static_regularization_enable: u8,
    pub static_regularization_constant: f64,
    pub static_regularization_proportional: f64,
    pub dynamic_regularization_enable: u8,
    pub dynamic_regularization_eps: f64,
    pub dynamic_regularization_delta: f64,
    pub iterative_refinement_enable: u8,
    pub iterative_refinement_reltol: f64,
    pub iterative_refinement_abstol: f64,
    pub iterative_refinement_max_iter: u32,
    pub iterative_refinement_stop_ratio: f64,
    pub presolve_enable: u8,
    pub input_sparse_dropzeros: u8,
}

fn method_bytes(name: &str) -> Result<([c_char; METHOD_CAPACITY], usize), Failure> {
    let bytes = name.as_bytes();
    if bytes.len() > METHOD_CAPACITY {
        return Err(invalid(format!(
            "direct_solve_method \"{name}\" does not fit the settings record"
        )));
    }
    let mut buffer = [0 as c_char; METHOD_CAPACITY];
    for (slot, &byte) in buffer.iter_mut().zip(bytes) {
        *slot = byte as c_char;
    }
    Ok((buffer, bytes.len()))
}

fn method_name(record: &SettingsRecord) -> Result<String, Failure> {
    let len = record.direct_solve_method_len;
    if len > METHOD_CAPACITY {
        return Err(invalid(format!(
            "direct_solve_method length {len} exceeds {METHOD_CAPACITY}"
        )));
    }
    let bytes: Vec<u8> = record.direct_solve_method[..len]
        .iter()
        .map(|&c| c as u8)
        .collect();
    // Invalid UTF-8 becomes U+FFFD, which matches no method, so the crate still refuses it.
    Ok(String::from_utf8_lossy(&bytes).into_owned())
}

pub fn to_record(s: &DefaultSettings<f64>) -> Result<SettingsRecord, Failure> {
    let (direct_solve_method, direct_solve_method_len) = method_bytes(&s.direct_solve_method)?;
    Ok(SettingsRecord {
        max_iter: s.max_iter,
        time_limit: s.time_limit,
        verbose: s.verbose as u8,
        max_step_fraction: s.max_step_fraction,
        tol_gap_abs: s.tol_gap_abs,
        tol_gap_rel: s.tol_gap_rel,
        tol_feas: s.tol_feas,
        tol_infeas_abs: s.tol_infeas_abs,
        tol_infeas_rel: s.tol_infeas_rel,
        tol_ktratio: s.tol_ktratio,
        reduced_tol_gap_abs: s.reduced_tol_gap_abs,
        reduced_tol_gap_rel: s.reduced_tol_gap_rel,
        reduced_tol_feas: s.reduced_tol_feas,
        reduced_tol_infeas_abs: s.reduced_tol_infeas_abs,
        reduced_tol_infeas_rel: s.reduced_tol_infeas_rel,
        reduced_tol_ktratio: s.reduced_tol_ktratio,
        equilibrate_enable: s.equilibrate_enable as u8,
        equilibrate_max_iter: s.equilibrate_max_iter,
        equilibrate_min_scaling: s.equilibrate_min_scaling,
        equilibrate_max_scaling: s.equilibrate_max_scaling,
        linesearch_backtrack_step: s.linesearch_backtrack_step,
        min_switch_step_length: s.min_switch_step_length,
        min_terminate_step_length: s.min_terminate_step_length,
        max_threads: s.max_threads,
        direct_kkt_solver: s.direct_kkt_solver as u8,
        direct_solve_method,
        direct_solve_method_len,
        static_regularization_enable: s.static_regularization_enable as u8,
        static_regularization_constant: s.static_regularization_constant,
        static_regularization_proportional: s.static_regularization_proportional,
        dynamic_regularization_enable: s.dynamic_regularization_enable as u8,
        dynamic_regularization_eps: s.dynamic_regularization_eps,
        dynamic_regularization_delta: s.dynamic_regularization_delta,
        iterative_refinement_enable: s.iterative_refinement_enable as u8,
        iterative_refinement_reltol: s.iterative_refinement_reltol,
        iterative_refinement_abstol: s.iterative_refinement_abstol,
        iterative_refinement_max_iter: s.iterative_refinement_max_iter,
        iterative_refinement_stop_ratio: s.iterative_refinement_stop_ratio,
        presolve_enable: s.presolve_enable as u8,
        input_sparse_dropzeros: s.input_sparse_dropzeros as u8,
    })
}

/// Every field comes from the record; fields the record lacks (those of optional crate
/// features) keep the crate's defaults.
#[allow(clippy::needless_update)]
pub fn from_record(r: &SettingsRecord) -> Result<DefaultSettings<f64>, Failure> {
    Ok(DefaultSettings {
        max_iter: r.max_iter,
        time_limit: r.time_limit,
        verbose: r.verbose != 0,
        max_step_fraction: r.max_step_fraction,
        tol_gap_abs: r.tol_gap_abs,
        tol_gap_rel: r.tol_gap_rel,
        tol_feas: r.tol_feas,
        tol_infeas_abs: r.tol_infeas_abs,
        tol_infeas_rel: r.tol_infeas_rel,
        tol_ktratio: r.tol_ktratio,
        reduced_tol_gap_abs: r.reduced_tol_gap_abs,
        reduced_tol_gap_rel: r.reduced_tol_gap_rel,
        reduced_tol_feas: r.reduced_tol_feas,
        reduced_tol_infeas_abs: r.reduced_tol_infeas_abs,
        reduced_tol_infeas_rel: r.reduced_tol_infeas_rel,
        reduced_tol_ktratio: r.reduced_tol_ktratio,
        equilibrate_enable: r.equilibrate_enable != 0,
        equilibrate_max_iter: r.equilibrate_max_iter,
        equilibrate_min_scaling: r.equilibrate_min_scaling,
        equilibrate_max_scaling: r.equilibrate_max_scaling,
        linesearch_backtrack_step: r.linesearch_backtrack_step,
        min_switch_step_length: r.min_switch_step_length,
        min_terminate_step_length: r.min_terminate_step_length,
        max_threads: r.max_threads,
        direct_kkt_solver: r.direct_kkt_solver != 0,
        direct_solve_method: method_name(r)?,
        static_regularization_enable: r.static_regularization_enable != 0,
        static_regularization_constant: r.static_regularization_constant,
        static_regularization_proportional: r.static_regularization_proportional,
        dynamic_regularization_enable: r.dynamic_regularization_enable != 0,
        dynamic_regularization_eps: r.dynamic_regularization_eps,
        dynamic_regularization_delta: r.dynamic_regularization_delta,
        iterative_refinement_enable: r.iterative_refinement_enable != 0,
        iterative_refinement_reltol: r.iterative_refinement_reltol,
        iterative_refinement_abstol: r.iterative_refinement_abstol,
        iterative_refinement_max_iter: r.iterative_refinement_max_iter,
        iterative_refinement_stop_ratio: r.iterative_refinement_stop_ratio,
        presolve_enable: r.presolve_enable != 0,
        input_sparse_dropzeros: r.input_sparse_dropzeros != 0,
        ..DefaultSettings::default()
    })
}
