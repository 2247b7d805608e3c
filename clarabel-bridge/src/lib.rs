//! C ABI over the Clarabel conic solver for the tarvo core (declared in bridge_abi.h).
//!
//! Every entry point returns a result code (0 ok, 1 solver error, 2 panic, 3 out of memory)
//! and, for codes 1 and 2, a message that the caller frees with `tarvo_bridge_message_free`.
//! No panic unwinds across the boundary and nothing is printed.

mod c_input;
mod guard;
mod problem;
mod settings;
mod solve;

use std::ffi::{c_char, CString};

use clarabel::solver::DefaultSettings;

use c_input::slice_from_c_mut;
use guard::{invalid, run, run_quietly};
use problem::{ConeSpec, CscView, Problem};
use settings::SettingsRecord;

/// Fills `*out` with the crate's `DefaultSettings::<f64>::default()`.
///
/// # Safety
/// `out` is null or points to a writable record; `message` is null or points to a char*.
#[no_mangle]
pub unsafe extern "C" fn tarvo_bridge_default_settings(
    out: *mut SettingsRecord,
    message: *mut *mut c_char,
) -> i32 {
    run(message, || {
        let record = settings::to_record(&DefaultSettings::<f64>::default())?;
        let out = out
            .as_mut()
            .ok_or_else(|| invalid("settings: null record"))?;
        *out = record;
        Ok(())
    })
}

/// Copies P, q, A, b and the cones into a new handle stored in `*out`.
///
/// # Safety
/// Each pointer is null (allowed only with length 0) or valid for its length; `out` points
/// to a writable handle slot; `message` as for `tarvo_bridge_default_settings`.
#[no_mangle]
#[allow(non_snake_case, clippy::too_many_arguments)]
pub unsafe extern "C" fn tarvo_bridge_problem_new(
    P: *const CscView,
    q: *const f64,
    q_len: usize,
    A: *const CscView,
    b: *const f64,
    b_len: usize,
    cones: *const ConeSpec,
    cones_len: usize,
    out: *mut *mut Problem,
    message: *mut *mut c_char,
) -> i32 {
    run(message, || {
        let out = out
            .as_mut()
            .ok_or_else(|| invalid("problem: null handle slot"))?;
        *out = std::ptr::null_mut();
        let problem = problem::copy_problem(P, q, q_len, A, b, b_len, cones, cones_len)?;
        *out = Box::into_raw(Box::new(problem));
        Ok(())
    })
}

/// Stores the program's number of variables (the length of q) in `*count`.
///
/// # Safety
/// `problem` is null or a live handle; `count` is null or writable.
#[no_mangle]
pub unsafe extern "C" fn tarvo_bridge_problem_variable_count(
    problem: *const Problem,
    count: *mut usize,
    message: *mut *mut c_char,
) -> i32 {
    run(message, || {
        let problem = problem
            .as_ref()
            .ok_or_else(|| invalid("problem: null handle"))?;
        let count = count
            .as_mut()
            .ok_or_else(|| invalid("variable count: null pointer"))?;
        *count = problem.q.len();
        Ok(())
    })
}

/// Creates a `DefaultSolver` on the program with the given settings and runs `solve()`;
/// writes the status code to `*status` and x into `x[0 .. x_len]`, x_len being the number
/// of variables.
///
/// # Safety
/// `problem` is null or a live handle; `settings` and `status` are null or valid; `x` is null
/// (only with x_len 0) or writable for x_len doubles.
#[no_mangle]
pub unsafe extern "C" fn tarvo_bridge_problem_solve(
    problem: *const Problem,
    settings: *const SettingsRecord,
    status: *mut u32,
    x: *mut f64,
    x_len: usize,
    message: *mut *mut c_char,
) -> i32 {
    run(message, || {
        let problem = problem
            .as_ref()
            .ok_or_else(|| invalid("problem: null handle"))?;
        let record = settings
            .as_ref()
            .ok_or_else(|| invalid("settings: null record"))?;
        let status = status
            .as_mut()
            .ok_or_else(|| invalid("status: null pointer"))?;
        let x_out = slice_from_c_mut(x, x_len, "x")?;
        *status = solve::solve(problem, settings::from_record(record)?, x_out)?;
        Ok(())
    })
}

/// Releases a handle from `tarvo_bridge_problem_new`; null is ignored.
///
/// # Safety
/// `problem` is null or a live handle that is not used afterwards.
#[no_mangle]
pub unsafe extern "C" fn tarvo_bridge_problem_free(problem: *mut Problem) {
    if !problem.is_null() {
        run_quietly(|| drop(Box::from_raw(problem)));
    }
}

/// Releases a message handed out by any entry point; null is ignored.
///
/// # Safety
/// `message` is null or a message from this library that is not used afterwards.
#[no_mangle]
pub unsafe extern "C" fn tarvo_bridge_message_free(message: *mut c_char) {
    if !message.is_null() {
        run_quietly(|| drop(CString::from_raw(message)));
    }
}

/// Panics on purpose inside the guard, so that tests can check that a panic comes back as
/// TARVO_BRIDGE_PANIC with its text and prints nothing. Not used by the library itself.
///
/// # Safety
/// `message` as for `tarvo_bridge_default_settings`.
#[no_mangle]
pub unsafe extern "C" fn tarvo_bridge_panic_for_test(message: *mut *mut c_char) -> i32 {
    run(message, || panic!("deliberate panic for a test"))
}
