//! The few settings tarvo chooses, as a small C record. Every other field of the crate's
//! settings stays at `DefaultSettings::default()`, so the record with nothing set gives the
//! crate's defaults with printing off. Flags travel as bytes (0 false, anything else true)
//! so that no byte from C can form an invalid Rust `bool`.

use std::ffi::c_void;

use clarabel::solver::DefaultSettings;

use crate::guard::{invalid, Failure};

/// An optional setting: `value` counts only when `set` is non-zero (TarvoBridgeTolerance and
/// TarvoBridgeCount in C).
#[repr(C)]
pub struct Override<T> {
    pub value: T,
    pub set: u8,
}

/// Asked once per interior-point iteration with the record's `stop_context`; non-zero ends
/// the solve with status `CallbackTerminated`.
pub type StopHook = unsafe extern "C" fn(context: *mut c_void) -> i32;

#[repr(C)]
pub struct SettingsRecord {
    pub tol_gap_abs: Override<f64>,
    pub tol_gap_rel: Override<f64>,
    pub tol_feas: Override<f64>,
    pub tol_infeas_abs: Override<f64>,
    pub tol_infeas_rel: Override<f64>,
    pub tol_ktratio: Override<f64>,
    pub reduced_tol_gap_abs: Override<f64>,
    pub reduced_tol_gap_rel: Override<f64>,
    pub reduced_tol_feas: Override<f64>,
    pub max_iter: Override<u32>,
    pub verbose: u8,
    /// Null for no hook.
    pub should_stop: Option<StopHook>,
    pub stop_context: *mut c_void,
}

/// A tolerance must be a finite number at or above zero; the crate itself checks none.
fn apply_tolerance(target: &mut f64, tolerance: &Override<f64>, name: &str) -> Result<(), Failure> {
    if tolerance.set == 0 {
        return Ok(());
    }
    let value = tolerance.value;
    if !(value.is_finite() && value >= 0.0) {
        return Err(invalid(format!(
            "settings: {name} = {value} is not a finite tolerance at or above 0"
        )));
    }
    *target = value;
    Ok(())
}

/// The crate's defaults with the record's choices applied.
pub fn to_settings(record: &SettingsRecord) -> Result<DefaultSettings<f64>, Failure> {
    let mut settings = DefaultSettings {
        verbose: record.verbose != 0,
        ..DefaultSettings::default()
    };
    let s = &mut settings;
    let r = record;
    apply_tolerance(&mut s.tol_gap_abs, &r.tol_gap_abs, "tol_gap_abs")?;
    apply_tolerance(&mut s.tol_gap_rel, &r.tol_gap_rel, "tol_gap_rel")?;
    apply_tolerance(&mut s.tol_feas, &r.tol_feas, "tol_feas")?;
    apply_tolerance(&mut s.tol_infeas_abs, &r.tol_infeas_abs, "tol_infeas_abs")?;
    apply_tolerance(&mut s.tol_infeas_rel, &r.tol_infeas_rel, "tol_infeas_rel")?;
    apply_tolerance(&mut s.tol_ktratio, &r.tol_ktratio, "tol_ktratio")?;
    apply_tolerance(&mut s.reduced_tol_gap_abs, &r.reduced_tol_gap_abs, "reduced_tol_gap_abs")?;
    apply_tolerance(&mut s.reduced_tol_gap_rel, &r.reduced_tol_gap_rel, "reduced_tol_gap_rel")?;
    apply_tolerance(&mut s.reduced_tol_feas, &r.reduced_tol_feas, "reduced_tol_feas")?;
    if r.max_iter.set != 0 {
        s.max_iter = r.max_iter.value;
    }
    Ok(settings)
}

/// The record's hook and its context, handed to the solver as its termination callback.
pub struct StopRequest {
    hook: StopHook,
    context: *mut c_void,
}

// SAFETY: the crate asks for a Send + Sync callback, but calls it only from `solve()` on the
// thread that called the entry point, and the solver holding it is dropped before that entry
// point returns; the C caller keeps `context` valid for that call.
unsafe impl Send for StopRequest {}
unsafe impl Sync for StopRequest {}

impl StopRequest {
    pub fn from_record(record: &SettingsRecord) -> Option<StopRequest> {
        record.should_stop.map(|hook| StopRequest {
            hook,
            context: record.stop_context,
        })
    }

    pub fn should_stop(&self) -> bool {
        // SAFETY: the hook and its context come from the caller of tarvo_bridge_problem_solve,
        // which promises that the hook may be called with this context during the call.
        unsafe { (self.hook)(self.context) != 0 }
    }
}

#[cfg(test)]
mod tests {
    use super::*;

    fn unset_record() -> SettingsRecord {
        let unset = || Override { value: 0.0, set: 0 };
        SettingsRecord {
            tol_gap_abs: unset(),
            tol_gap_rel: unset(),
            tol_feas: unset(),
            tol_infeas_abs: unset(),
            tol_infeas_rel: unset(),
            tol_ktratio: unset(),
            reduced_tol_gap_abs: unset(),
            reduced_tol_gap_rel: unset(),
            reduced_tol_feas: unset(),
            max_iter: Override { value: 0, set: 0 },
            verbose: 0,
            should_stop: None,
            stop_context: std::ptr::null_mut(),
        }
    }

    fn settings_of(record: &SettingsRecord) -> DefaultSettings<f64> {
        match to_settings(record) {
            Ok(settings) => settings,
            Err(_) => panic!("the record was refused"),
        }
    }

    fn tolerances(s: &DefaultSettings<f64>) -> [f64; 9] {
        [
            s.tol_gap_abs,
            s.tol_gap_rel,
            s.tol_feas,
            s.tol_infeas_abs,
            s.tol_infeas_rel,
            s.tol_ktratio,
            s.reduced_tol_gap_abs,
            s.reduced_tol_gap_rel,
            s.reduced_tol_feas,
        ]
    }

    fn tolerance_overrides(r: &mut SettingsRecord) -> [&mut Override<f64>; 9] {
        [
            &mut r.tol_gap_abs,
            &mut r.tol_gap_rel,
            &mut r.tol_feas,
            &mut r.tol_infeas_abs,
            &mut r.tol_infeas_rel,
            &mut r.tol_ktratio,
            &mut r.reduced_tol_gap_abs,
            &mut r.reduced_tol_gap_rel,
            &mut r.reduced_tol_feas,
        ]
    }

    #[test]
    fn unset_record_gives_the_crate_defaults_without_printing() {
        let quiet_defaults = DefaultSettings::<f64> {
            verbose: false,
            ..DefaultSettings::default()
        };
        let settings = settings_of(&unset_record());
        assert_eq!(format!("{settings:?}"), format!("{quiet_defaults:?}"));
    }

    #[test]
    fn each_tolerance_reaches_its_own_field_only() {
        let defaults = tolerances(&DefaultSettings::default());
        for index in 0..defaults.len() {
            let mut record = unset_record();
            *tolerance_overrides(&mut record)[index] = Override { value: 0.125, set: 1 };
            let mut expected = defaults;
            expected[index] = 0.125;
            assert_eq!(tolerances(&settings_of(&record)), expected, "override {index}");
        }
    }

    #[test]
    fn iteration_cap_and_printing_reach_the_crate() {
        let mut record = unset_record();
        record.max_iter = Override { value: 0, set: 1 };
        record.verbose = 2;
        let settings = settings_of(&record);
        assert_eq!((settings.max_iter, settings.verbose), (0, true));
        record.max_iter.set = 0;
        record.max_iter.value = 7;
        assert_eq!(settings_of(&record).max_iter, DefaultSettings::<f64>::default().max_iter);
    }
}
