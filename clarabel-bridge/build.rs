//! Generates the Rust side of the lists in include/clarabel_bridge/lists.h, which the C and C++
//! halves expand as well: each list becomes one invocation of the macro that consumes it.

use std::{env, fs, path::Path};

const LISTS: &str = "include/clarabel_bridge/lists.h";

/// The entries `X(entry)` on the continued lines of the #define of `list`, in order.
fn entries(text: &str, list: &str) -> Vec<String> {
    let define = format!("#define {list}(X)");
    let mut lines = text.lines().skip_while(|line| !line.starts_with(&define));
    let mut continued = lines.next().is_some_and(|line| line.trim_end().ends_with('\\'));
    let mut entries = Vec::new();
    while continued {
        let Some(line) = lines.next() else { break };
        continued = line.trim_end().ends_with('\\');
        let entry = line.trim().trim_end_matches('\\').trim();
        let inner = entry.strip_prefix("X(").and_then(|rest| rest.strip_suffix(')'));
        entries.push(inner.unwrap_or_else(|| panic!("{LISTS}: '{entry}' is not X(..)")).to_string());
    }
    assert!(!entries.is_empty(), "{LISTS} has no entries for {list}");
    entries
}

fn main() {
    println!("cargo:rerun-if-changed={LISTS}");
    let text = fs::read_to_string(LISTS).unwrap_or_else(|error| panic!("{LISTS}: {error}"));
    let out_dir = env::var("OUT_DIR").expect("cargo sets OUT_DIR");
    for (list, consumer, file) in [
        ("CLARABEL_BRIDGE_TOLERANCES", "settings_record", "tolerances.rs"),
        ("CLARABEL_BRIDGE_STATUSES", "statuses", "statuses.rs"),
    ] {
        let invocation = format!("{consumer}!({});\n", entries(&text, list).join(", "));
        fs::write(Path::new(&out_dir).join(file), invocation).expect("OUT_DIR is writable");
    }
}
