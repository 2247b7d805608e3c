//! The solver's statuses across the C ABI. A status travels as the crate's own discriminant
//! (`SolverStatus` is `#[repr(C)]`, numbered in declaration order from `Unsolved` = 0); the C++
//! half numbers and names them from the same list, generated here by build.rs, whose checks
//! tie that list to the crate.

use clarabel::solver::SolverStatus;

/// Checks, at compile time, that the list holds every variant and each at its discriminant.
macro_rules! statuses {
    ($($status:ident),+) => {
        /// The listed variants in list order, with their names.
        #[cfg(test)]
        pub const LISTED: &[(SolverStatus, &str)] = &[$((SolverStatus::$status, stringify!($status))),+];

        const _: () = {
            let codes = [$(SolverStatus::$status as u32),+];
            let mut index = 0;
            while index < codes.len() {
                assert!(codes[index] == index as u32);
                index += 1;
            }
        };

        // Fails to compile when the crate has a variant the list lacks.
        #[allow(dead_code)]
        fn listed(status: SolverStatus) {
            match status {
                $(SolverStatus::$status)|+ => {}
            }
        }
    };
}

include!(concat!(env!("OUT_DIR"), "/statuses.rs"));

pub fn status_code(status: SolverStatus) -> u32 {
    status as u32
}

#[cfg(test)]
#[path = "status_test.rs"]
mod tests;
