/* C ABI of the Rust half of the Clarabel bridge (src/lib.rs). Private to clarabel.cpp.
 *
 * Every function that can fail returns a result code. For TARVO_BRIDGE_SOLVER_ERROR and
 * TARVO_BRIDGE_PANIC, *message (when message is not null) receives a NUL-terminated text
 * that the caller must release with tarvo_bridge_message_free; otherwise it is set to null.
 * Flags are bytes: 0 is false, anything else true. */
#ifndef TARVO_BRIDGE_ABI_H
#define TARVO_BRIDGE_ABI_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum {
    TARVO_BRIDGE_OK = 0,
    TARVO_BRIDGE_SOLVER_ERROR = 1, /* DefaultSolver::new refused the data */
    TARVO_BRIDGE_PANIC = 2,        /* a caught Rust panic, or data breaking these rules */
    TARVO_BRIDGE_NO_MEMORY = 3     /* copying the data failed to allocate; no message */
};

enum {
    TARVO_BRIDGE_ZERO_CONE = 0,
    TARVO_BRIDGE_NONNEGATIVE_CONE = 1,
    TARVO_BRIDGE_SECOND_ORDER_CONE = 2
};

#define TARVO_BRIDGE_METHOD_CAPACITY 64

/* Column j holds entries colptr[j] .. colptr[j+1]-1. A pointer may be null only when its
 * length is 0. */
typedef struct TarvoBridgeCsc {
    size_t m;
    size_t n;
    const size_t* colptr;
    size_t colptr_len;
    const size_t* rowval;
    size_t rowval_len;
    const double* nzval;
    size_t nzval_len;
} TarvoBridgeCsc;

typedef struct TarvoBridgeCone {
    uint32_t kind;
    size_t dim;
} TarvoBridgeCone;

/* Every field of the crate's DefaultSettings<f64>, in its order. direct_solve_method holds
 * direct_solve_method_len bytes and no terminating NUL. */
typedef struct TarvoBridgeSettings {
    uint32_t max_iter;
    double time_limit;
    uint8_t verbose;
    double max_step_fraction;
    double tol_gap_abs;
    double tol_gap_rel;
    double tol_feas;
    double tol_infeas_abs;
    double tol_infeas_rel;
    double tol_ktratio;
    double reduced_tol_gap_abs;
    double reduced_tol_gap_rel;
    double reduced_tol_feas;
    double reduced_tol_infeas_abs;
    double reduced_tol_infeas_rel;
    double reduced_tol_ktratio;
    uint8_t equilibrate_enable;
    uint32_t equilibrate_max_iter;
    double equilibrate_min_scaling;
    double equilibrate_max_scaling;
    double linesearch_backtrack_step;
    double min_switch_step_length;
    double min_terminate_step_length;
    uint32_t max_threads;
    uint8_t direct_kkt_solver;
    char direct_solve_method[TARVO_BRIDGE_METHOD_CAPACITY];
    size_t direct_solve_method_len;
    uint8_t static_regularization_enable;
    double static_regularization_constant;
    double static_regularization_proportional;
    uint8_t dynamic_regularization_enable;
    double dynamic_regularization_eps;
    double dynamic_regularization_delta;
    uint8_t iterative_refinement_enable;
    double iterative_refinement_reltol;
    double iterative_refinement_abstol;
    uint32_t iterative_refinement_max_iter;
    double iterative_refinement_stop_ratio;
    uint8_t presolve_enable;
    uint8_t input_sparse_dropzeros;
} TarvoBridgeSettings;

typedef struct TarvoBridgeProblem TarvoBridgeProblem;

/* Fills *out with DefaultSettings::<f64>::default(). */
int32_t tarvo_bridge_default_settings(TarvoBridgeSettings* out, char** message);

/* Checks that P and A are well-formed CSC matrices (colptr of n+1 nondecreasing entries from
 * 0 to nnz, rows below m and strictly increasing per column) and copies P, q, A, b and the
 * cones into a new handle stored in *out (null on failure). Dimensions are not compared with
 * each other: the solve reports a mismatch as a solver error. */
int32_t tarvo_bridge_problem_new(const TarvoBridgeCsc* P, const double* q, size_t q_len,
                                 const TarvoBridgeCsc* A, const double* b, size_t b_len,
                                 const TarvoBridgeCone* cones, size_t cones_len,
                                 TarvoBridgeProblem** out, char** message);

/* Stores the number of variables (the length of q) in *count. */
int32_t tarvo_bridge_problem_variable_count(const TarvoBridgeProblem* problem, size_t* count,
                                            char** message);

/* Builds a DefaultSolver with the settings, runs solve(), stores the status (the variant's
 * index in the crate's SolverStatus) in *status and the primal x in x[0 .. x_len-1];
 * x_len must equal the number of variables. */
int32_t tarvo_bridge_problem_solve(const TarvoBridgeProblem* problem,
                                   const TarvoBridgeSettings* settings, uint32_t* status,
                                   double* x, size_t x_len, char** message);

/* Panics on purpose inside the guard; for tests of the panic path only. */
int32_t tarvo_bridge_panic_for_test(char** message);

void tarvo_bridge_problem_free(TarvoBridgeProblem* problem);
void tarvo_bridge_message_free(char* message);

#ifdef __cplusplus
}
#endif

#endif
