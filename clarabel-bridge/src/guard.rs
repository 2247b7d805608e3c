//! Keeps panics from crossing the C boundary: every entry point runs its body through
//! `run`, which catches an unwinding panic, and a silent panic hook records the panic's
//! text instead of printing it to stderr.

use std::any::Any;
use std::cell::RefCell;
use std::ffi::{c_char, CString};
use std::panic::{self, AssertUnwindSafe, PanicHookInfo};
use std::ptr;
use std::sync::Once;

pub const OK: i32 = 0;
pub const SOLVER_ERROR: i32 = 1;
pub const PANIC: i32 = 2;
pub const NO_MEMORY: i32 = 3;

/// Why an entry point did not complete.
pub enum Failure {
    /// `DefaultSolver::new` refused the data; the error's display text.
    SolverError(String),
    /// A caught panic, or data from C that breaks the ABI's rules.
    Panic(String),
    /// A copy of the caller's data could not be allocated.
    NoMemory,
}

thread_local! {
    static LAST_PANIC: RefCell<Option<String>> = const { RefCell::new(None) };
}

fn payload_text(payload: &(dyn Any + Send)) -> String {
    if let Some(text) = payload.downcast_ref::<&str>() {
        (*text).to_string()
    } else if let Some(text) = payload.downcast_ref::<String>() {
        text.clone()
    } else {
        "panic with a non-text payload".to_string()
    }
}

fn record_panic(info: &PanicHookInfo<'_>) {
    let mut text = payload_text(info.payload());
    if let Some(location) = info.location() {
        text = format!("{text} (at {}:{})", location.file(), location.line());
    }
    let _ = LAST_PANIC.try_with(|slot| {
        if let Ok(mut slot) = slot.try_borrow_mut() {
            *slot = Some(text);
        }
    });
}

fn install_silent_hook() {
    static INSTALL: Once = Once::new();
    INSTALL.call_once(|| panic::set_hook(Box::new(record_panic)));
}

fn forget_last_panic() {
    let _ = LAST_PANIC.try_with(|slot| slot.try_borrow_mut().map(|mut slot| slot.take()));
}

fn panic_text(payload: Box<dyn Any + Send>) -> String {
    let recorded = LAST_PANIC
        .try_with(|slot| slot.try_borrow_mut().ok().and_then(|mut slot| slot.take()))
        .ok()
        .flatten();
    recorded.unwrap_or_else(|| payload_text(payload.as_ref()))
}

/// Hands `text` to C as a NUL-terminated string owned by Rust (freed by
/// `tarvo_bridge_message_free`). Interior NULs would cut the text short, so they become '?'.
fn give_message(message: *mut *mut c_char, text: String) {
    if message.is_null() {
        return;
    }
    let bytes: Vec<u8> = text
        .into_bytes()
        .into_iter()
        .map(|b| if b == 0 { b'?' } else { b })
        .collect();
    let owned = CString::new(bytes).unwrap_or_default();
    // SAFETY: `message` is non-null and, by the ABI's contract, points to a writable char*.
    unsafe { *message = owned.into_raw() };
}

fn report(failure: Failure, message: *mut *mut c_char) -> i32 {
    match failure {
        Failure::SolverError(text) => {
            give_message(message, text);
            SOLVER_ERROR
        }
        Failure::Panic(text) => {
            give_message(message, text);
            PANIC
        }
        Failure::NoMemory => NO_MEMORY,
    }
}

/// Runs `body` with panics caught, and turns its outcome into a result code; on failure
/// `*message` receives the failure's text (null for `NO_MEMORY`).
pub fn run(message: *mut *mut c_char, body: impl FnOnce() -> Result<(), Failure>) -> i32 {
    let outcome = panic::catch_unwind(AssertUnwindSafe(|| {
        install_silent_hook();
        forget_last_panic();
        if !message.is_null() {
            // SAFETY: non-null, points to a writable char* by the ABI's contract.
            unsafe { *message = ptr::null_mut() };
        }
        body()
    }));
    let failure = match outcome {
        Ok(Ok(())) => return OK,
        Ok(Err(failure)) => failure,
        Err(payload) => Failure::Panic(panic_text(payload)),
    };
    panic::catch_unwind(AssertUnwindSafe(|| report(failure, message))).unwrap_or(PANIC)
}

/// Runs `body` with panics caught where there is no way to report (releasing a handle).
pub fn run_quietly(body: impl FnOnce()) {
    let _ = panic::catch_unwind(AssertUnwindSafe(|| {
        install_silent_hook();
        body()
    }));
}

/// A failure for data from C that breaks the ABI's rules.
pub fn invalid(text: impl Into<String>) -> Failure {
    Failure::Panic(text.into())
}

#[cfg(test)]
#[path = "guard_test.rs"]
mod tests;
