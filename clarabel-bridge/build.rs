//! Generates the tolerance fields of the settings record from their one list,
//! include/clarabel_bridge/tolerances.h, which the C and C++ halves expand as well.

use std::{env, fs, path::Path};

const TABLE: &str = "include/clarabel_bridge/tolerances.h";
const DEFINE: &str = "#define CLARABEL_BRIDGE_TOLERANCES(X)";

/// The names of the entries `X(name)` on the continued lines of the table's #define, in order.
fn tolerance_names(text: &str) -> Vec<String> {
    let mut lines = text.lines().skip_while(|line| !line.starts_with(DEFINE));
    let mut continued = lines.next().is_some_and(|line| line.trim_end().ends_with('\\'));
    let mut names = Vec::new();
    while continued {
        let Some(line) = lines.next() else { break };
        continued = line.trim_end().ends_with('\\');
        let entry = line.trim().trim_end_matches('\\').trim();
        let name = entry.strip_prefix("X(").and_then(|rest| rest.strip_suffix(')'));
        names.push(name.unwrap_or_else(|| panic!("{TABLE}: '{entry}' is not X(name)")).to_string());
    }
    names
}

fn main() {
    println!("cargo:rerun-if-changed={TABLE}");
    let text = fs::read_to_string(TABLE).unwrap_or_else(|error| panic!("{TABLE}: {error}"));
    let names = tolerance_names(&text);
    assert!(!names.is_empty(), "{TABLE} lists no tolerance");
    let out_dir = env::var("OUT_DIR").expect("cargo sets OUT_DIR");
    let generated = format!("settings_record!({});\n", names.join(", "));
    fs::write(Path::new(&out_dir).join("tolerances.rs"), generated).expect("OUT_DIR is writable");
}
