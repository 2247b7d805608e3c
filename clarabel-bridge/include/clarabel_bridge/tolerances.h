/* The solver tolerances tarvo may override, in the order of the bridge's settings record; each
 * is the field of the crate's DefaultSettings<f64> with the same name. This is the one list of
 * them: the C record and its layout checks (bridge_abi.h), the C++ Settings (clarabel.hpp), and
 * the Rust record with its layout checks (generated from this file by build.rs) all expand it. */
#ifndef CLARABEL_BRIDGE_TOLERANCES_H
#define CLARABEL_BRIDGE_TOLERANCES_H

#define CLARABEL_BRIDGE_TOLERANCES(X) \
    X(tol_gap_abs)                    \
    X(tol_gap_rel)                    \
    X(tol_feas)                       \
    X(tol_infeas_abs)                 \
    X(tol_infeas_rel)                 \
    X(tol_ktratio)                    \
    X(reduced_tol_gap_abs)            \
    X(reduced_tol_gap_rel)            \
    X(reduced_tol_feas)

#endif
