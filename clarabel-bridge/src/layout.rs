//! The layout of every record shared with C, checked at compile time. bridge_abi.h asserts
//! the same numbers on the C++ side, so a field moved on one side only fails the build.
//! The numbers hold for targets with 64-bit pointers and sizes.

use std::mem::{offset_of, size_of};

use crate::problem::{ConeSpec, CscView, NONNEGATIVE_CONE, SECOND_ORDER_CONE, ZERO_CONE};
use crate::settings::{Override, SettingsRecord};
use crate::solve::SolveInfo;

macro_rules! layout {
    ($record:ty, size $size:expr, $($field:ident at $offset:expr),+ $(,)?) => {
        const _: () = {
            assert!(size_of::<$record>() == $size);
            $(assert!(offset_of!($record, $field) == $offset);)+
        };
    };
}

const _: () = assert!(ZERO_CONE == 0 && NONNEGATIVE_CONE == 1 && SECOND_ORDER_CONE == 2);
layout!(CscView, size 64,
    m at 0, n at 8, colptr at 16, colptr_len at 24, rowval at 32, rowval_len at 40,
    nzval at 48, nzval_len at 56);
layout!(ConeSpec, size 16, kind at 0, dim at 8);
layout!(Override<f64>, size 16, value at 0, set at 8);
layout!(Override<u32>, size 8, value at 0, set at 4);
layout!(SettingsRecord, size 176,
    tol_gap_abs at 0, tol_gap_rel at 16, tol_feas at 32, tol_infeas_abs at 48,
    tol_infeas_rel at 64, tol_ktratio at 80, reduced_tol_gap_abs at 96,
    reduced_tol_gap_rel at 112, reduced_tol_feas at 128, max_iter at 144, verbose at 152,
    should_stop at 160, stop_context at 168);
layout!(SolveInfo, size 48,
    status at 0, iterations at 4, solve_time at 8, gap_abs at 16, gap_rel at 24,
    res_primal at 32, res_dual at 40);
