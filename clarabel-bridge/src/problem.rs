//! The cone program copied from C into Rust-owned memory, after checking that every matrix
//! is a well-formed CSC matrix. The solver indexes the matrices without bounds checks, so a
//! malformed one must never reach it.

use clarabel::algebra::CscMatrix;
use clarabel::solver::SupportedConeT;

use crate::c_input::{copy_to_vec, slice_from_c};
use crate::guard::{invalid, Failure};

/// A CSC matrix lent by C: column j holds entries colptr[j] .. colptr[j+1]-1.
#[repr(C)]
pub struct CscView {
    pub m: usize,
    pub n: usize,
    pub colptr: *const usize,
    pub colptr_len: usize,
    pub rowval: *const usize,
    pub rowval_len: usize,
    pub nzval: *const f64,
    pub nzval_len: usize,
}

pub const ZERO_CONE: u32 = 0;
pub const NONNEGATIVE_CONE: u32 = 1;
pub const SECOND_ORDER_CONE: u32 = 2;

#[repr(C)]
pub struct ConeSpec {
    pub kind: u32,
    pub dim: usize,
}

/// P, q, A, b and the cones, owned by Rust for as long as the C handle lives.
#[allow(non_snake_case)]
pub struct Problem {
    pub P: CscMatrix<f64>,
    pub q: Vec<f64>,
    pub A: CscMatrix<f64>,
    pub b: Vec<f64>,
    pub cones: Vec<SupportedConeT<f64>>,
}

fn check_colptr(n: usize, colptr: &[usize], nnz: usize) -> Result<(), String> {
    if Some(colptr.len()) != n.checked_add(1) {
        return Err(format!(
            "colptr has {} entries for {n} columns",
            colptr.len()
        ));
    }
    if colptr[0] != 0 {
        return Err("colptr does not start at 0".to_string());
    }
    if colptr.windows(2).any(|pair| pair[0] > pair[1]) {
        return Err("colptr decreases".to_string());
    }
    if colptr[n] != nnz {
        return Err(format!(
            "colptr ends at {} but there are {nnz} entries",
            colptr[n]
        ));
    }
    Ok(())
}

/// Rows must lie below m and increase strictly within each column (no duplicates).
fn check_rows(m: usize, colptr: &[usize], rowval: &[usize]) -> Result<(), String> {
    for (column, range) in colptr.windows(2).enumerate() {
        let rows = &rowval[range[0]..range[1]];
        if rows.iter().any(|&row| row >= m) {
            return Err(format!("column {column} has a row index outside {m} rows"));
        }
        if rows.windows(2).any(|pair| pair[0] >= pair[1]) {
            return Err(format!(
                "column {column} has row indices out of order or repeated"
            ));
        }
    }
    Ok(())
}

/// # Safety
/// The pointers of `view` must satisfy the contract of `slice_from_c`.
unsafe fn copy_matrix(view: *const CscView, name: &str) -> Result<CscMatrix<f64>, Failure> {
    let view = view
        .as_ref()
        .ok_or_else(|| invalid(format!("{name}: null matrix")))?;
    let colptr = slice_from_c(view.colptr, view.colptr_len, name)?;
    let rowval = slice_from_c(view.rowval, view.rowval_len, name)?;
    let nzval = slice_from_c(view.nzval, view.nzval_len, name)?;
    if rowval.len() != nzval.len() {
        return Err(invalid(format!(
            "{name}: {} row indices but {} values",
            rowval.len(),
            nzval.len()
        )));
    }
    check_colptr(view.n, colptr, rowval.len())
        .and_then(|()| check_rows(view.m, colptr, rowval))
        .map_err(|text| invalid(format!("{name}: {text}")))?;
    Ok(CscMatrix::new(
        view.m,
        view.n,
        copy_to_vec(colptr)?,
        copy_to_vec(rowval)?,
        copy_to_vec(nzval)?,
    ))
}

/// The solver sums the cone dimensions without overflow checks; a sum that wraps around
/// could pass its dimension test and then size an allocation, so it is refused here.
fn convert_cones(flat_cones: &[ConeSpec]) -> Result<Vec<SupportedConeT<f64>>, Failure> {
    let mut cones = Vec::new();
    cones
        .try_reserve_exact(flat_cones.len())
        .map_err(|_| Failure::NoMemory)?;
    let mut total: usize = 0;
    for (index, cone) in flat_cones.iter().enumerate() {
        total = total
            .checked_add(cone.dim)
            .ok_or_else(|| invalid("cone dimensions add up beyond the address range"))?;
        cones.push(match cone.kind {
            ZERO_CONE => SupportedConeT::ZeroConeT(cone.dim),
            NONNEGATIVE_CONE => SupportedConeT::NonnegativeConeT(cone.dim),
            SECOND_ORDER_CONE => SupportedConeT::SecondOrderConeT(cone.dim),
            kind => return Err(invalid(format!("cone {index} has unknown kind {kind}"))),
        });
    }
    Ok(cones)
}

/// Checks and copies the program. Dimensions are not compared with each other here:
/// `DefaultSolver::new` judges them and reports a mismatch as its own error.
///
/// # Safety
/// Every pointer must satisfy the contract of `slice_from_c` with its length.
#[allow(non_snake_case, clippy::too_many_arguments)]
pub unsafe fn copy_problem(
    P: *const CscView,
    q: *const f64,
    q_len: usize,
    A: *const CscView,
    b: *const f64,
    b_len: usize,
    cones: *const ConeSpec,
    cones_len: usize,
) -> Result<Problem, Failure> {
    Ok(Problem {
        P: copy_matrix(P, "P")?,
        q: copy_to_vec(slice_from_c(q, q_len, "q")?)?,
        A: copy_matrix(A, "A")?,
        b: copy_to_vec(slice_from_c(b, b_len, "b")?)?,
        cones: convert_cones(slice_from_c(cones, cones_len, "cones")?)?,
    })
}
