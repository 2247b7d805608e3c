use super::*;

type Body = fn() -> Result<(), Failure>;

/// Runs `body` through the guard; the result code and the message handed out, if any.
fn guarded(body: impl FnOnce() -> Result<(), Failure>) -> (i32, Option<String>) {
    let mut message: *mut c_char = ptr::null_mut();
    let code = run(&mut message, body);
    // SAFETY: a non-null message is a fresh CString handed out by `run`.
    let text = (!message.is_null()).then(|| unsafe { CString::from_raw(message) });
    (code, text.map(|text| text.into_string().expect("UTF-8 message")))
}

#[test]
fn a_caught_panic_reports_its_own_text_and_place() {
    for (round, text) in ["first deliberate panic", "second deliberate panic"].iter().enumerate() {
        let (code, message) = guarded(|| panic!("{text}"));
        let message = message.expect("a panic hands out its text");
        assert_eq!(code, PANIC, "round {round}");
        assert!(message.starts_with(&format!("{text} (at src/guard_test.rs:")), "{message}");
    }
    let (code, message) = guarded(|| std::panic::panic_any(7_u8));
    assert_eq!(code, PANIC);
    assert!(message.is_some_and(|text| text.starts_with("panic with a non-text payload (at ")));
    assert_eq!(run(ptr::null_mut(), || panic!("nowhere to report")), PANIC);
}

#[test]
fn each_failure_has_its_code_and_a_whole_text() {
    let cases: [(Body, i32, Option<&str>); 4] = [
        (|| Ok(()), OK, None),
        (|| Err(Failure::SolverError("refused".into())), SOLVER_ERROR, Some("refused")),
        (|| Err(invalid("cut\0short")), PANIC, Some("cut?short")),
        (|| Err(Failure::NoMemory), NO_MEMORY, None),
    ];
    for (body, code, text) in cases {
        assert_eq!(guarded(body), (code, text.map(str::to_string)));
    }
}
