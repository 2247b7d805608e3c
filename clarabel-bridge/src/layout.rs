//! The layout of every record shared with C, checked at compile time. bridge_abi.h asserts
//! the same numbers on the C++ side, so a field moved on one side only fails the build.
//! The numbers hold for targets with 64-bit pointers and sizes.

use std::mem::{offset_of, size_of};

use crate::problem::{ConeSpec, CscView, NONNEGATIVE_CONE, SECOND_ORDER_CONE, ZERO_CONE};
use crate::settings::{Override, SettingsRecord, TOLERANCE_OFFSETS};
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

/// Where the tolerances end: they come first, one after another in table order.
const TOLERANCES_END: usize = 16 * TOLERANCE_OFFSETS.len();
const _: () = {
    let mut index = 0;
    while index < TOLERANCE_OFFSETS.len() {
        assert!(TOLERANCE_OFFSETS[index] == 16 * index);
        index += 1;
    }
};
layout!(SettingsRecord, size TOLERANCES_END + 24,
    max_iter at TOLERANCES_END, should_stop at TOLERANCES_END + 8,
    stop_context at TOLERANCES_END + 16);
layout!(SolveInfo, size 48,
    status at 0, iterations at 4, solve_time at 8, gap_abs at 16, gap_rel at 24,
    res_primal at 32, res_dual at 40);
