/* The lists that the C, C++ and Rust halves of the bridge share, each written once here as an
 * X-macro: bridge_abi.h and clarabel.hpp expand them, and build.rs generates the Rust side
 * from this file. */
#ifndef CLARABEL_BRIDGE_LISTS_H
#define CLARABEL_BRIDGE_LISTS_H

/* The solver tolerances tarvo may override, in the order of the settings record; each is the
 * field of the crate's DefaultSettings<f64> with the same name. */
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

/* The variants of the crate's SolverStatus in declaration order, so that each one's position
 * is its discriminant, the code a solve reports; each name is also the crate's text for it.
 * The Rust side checks both, and that the list names every variant. */
#define CLARABEL_BRIDGE_STATUSES(X) \
    X(Unsolved)                     \
    X(Solved)                       \
    X(PrimalInfeasible)             \
    X(DualInfeasible)               \
    X(AlmostSolved)                 \
    X(AlmostPrimalInfeasible)       \
    X(AlmostDualInfeasible)         \
    X(MaxIterations)                \
    X(MaxTime)                      \
    X(NumericalError)               \
    X(InsufficientProgress)         \
    X(CallbackTerminated)

#endif
