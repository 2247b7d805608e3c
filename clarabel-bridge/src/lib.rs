//! C ABI over the Clarabel conic solver for the tarvo core (declared in bridge_abi.h).
//!
//! Every entry point returns a result code (0 ok, 1 solver error, 2 panic, 3 out of memory)
//! and, for codes 1 and 2, a message that the caller frees with `tarvo_bridge_message_free`.
//! No panic unwinds across the boundary and nothing is printed.

mod c_input;
mod guard;
mod layout;
mod problem;
mod settings;
mod solve;
mod status;

use std::ffi::{c_char, CString};

use c_input::slice_from_c_mut;
use guard::{invalid, run, run_quietly};
use problem::{ConeSpec, CscView, Problem};
use settings::SettingsRecord;
use solve::SolveInfo;

/// Copies P, q, A, b and the cones into a new handle stored in `*out`.
///
/// # Safety
/// Each pointer is null (allowed only with length 0) or valid for its length; `out` points
/// to a writable handle slot; `message` is null or points to a writable char*.
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

/// Creates a `DefaultSolver` on the program with the record's settings and runs `solve()`;
/// writes the status and final figures to `*info` and x into `x[0 .. x_len]`, x_len being the
/// number of variables.
///
/// # Safety
/// `problem` is null or a live handle; `settings` and `info` are null or valid; the record's
/// stop hook, when set, may be called with its context during this call; `x` is null (only
/// with x_len 0) or writable for x_len doubles; `message` as above.
#[no_mangle]
pub unsafe extern "C" fn tarvo_bridge_problem_solve(
    problem: *const Problem,
    settings: *const SettingsRecord,
    info: *mut SolveInfo,
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
        let info = info
            .as_mut()
            .ok_or_else(|| invalid("info: null pointer"))?;
        let x_out = slice_from_c_mut(x, x_len, "x")?;
        *info = solve::solve(problem, record, x_out)?;
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
