//! Checked views and copies of the arrays that C hands over.

use std::mem::size_of;

use crate::guard::{invalid, Failure};

/// Borrows `len` elements at `ptr` as a slice, refusing what `from_raw_parts` forbids:
/// a null or misaligned pointer with a non-zero length, or a byte size beyond isize::MAX.
///
/// # Safety
/// When the checks pass, `ptr` must point to `len` initialised elements that stay alive and
/// unmodified for `'a`.
pub unsafe fn slice_from_c<'a, T>(
    ptr: *const T,
    len: usize,
    what: &str,
) -> Result<&'a [T], Failure> {
    if len == 0 {
        return Ok(&[]);
    }
    if ptr.is_null() {
        return Err(invalid(format!("{what}: null pointer with length {len}")));
    }
    if !ptr.is_aligned() {
        return Err(invalid(format!("{what}: misaligned pointer")));
    }
    let fits = len
        .checked_mul(size_of::<T>())
        .is_some_and(|bytes| bytes <= isize::MAX as usize);
    if !fits {
        return Err(invalid(format!("{what}: length {len} is too large")));
    }
    Ok(std::slice::from_raw_parts(ptr, len))
}

/// The mutable counterpart of `slice_from_c`, for output buffers.
///
/// # Safety
/// As for `slice_from_c`, and the buffer must not be aliased for `'a`.
pub unsafe fn slice_from_c_mut<'a, T>(
    ptr: *mut T,
    len: usize,
    what: &str,
) -> Result<&'a mut [T], Failure> {
    slice_from_c(ptr as *const T, len, what)?;
    if len == 0 {
        return Ok(&mut []);
    }
    Ok(std::slice::from_raw_parts_mut(ptr, len))
}

/// Copies `source` into a new Vec; a failed allocation is a value, not an abort.
pub fn copy_to_vec<T: Copy>(source: &[T]) -> Result<Vec<T>, Failure> {
    let mut copy = Vec::new();
    copy.try_reserve_exact(source.len())
        .map_err(|_| Failure::NoMemory)?;
    copy.extend_from_slice(source);
    Ok(copy)
}
