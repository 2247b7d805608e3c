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

#include "clarabel_bridge/lists.h"

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

/* An optional setting: value counts only when set is non-zero. */
typedef struct TarvoBridgeTolerance {
    double value; /* finite and at least 0 when set */
    uint8_t set;
} TarvoBridgeTolerance;

typedef struct TarvoBridgeCount {
    uint32_t value;
    uint8_t set;
} TarvoBridgeCount;

/* Asked once per interior-point iteration with stop_context; non-zero ends the solve with
 * status CallbackTerminated. Called on the solving thread, during tarvo_bridge_problem_solve
 * only; it must not unwind. */
typedef int32_t (*TarvoBridgeStopHook)(void* context);

/* The settings tarvo chooses: one TarvoBridgeTolerance per entry of CLARABEL_BRIDGE_TOLERANCES,
 * then the iteration cap and the stop hook. Every other field of the crate's DefaultSettings,
 * and every field left unset here, keeps DefaultSettings::default(); an all-zero record gives
 * the crate's defaults with printing off. */
#define TARVO_BRIDGE_TOLERANCE_FIELD(name) TarvoBridgeTolerance name;
typedef struct TarvoBridgeSettings {
    CLARABEL_BRIDGE_TOLERANCES(TARVO_BRIDGE_TOLERANCE_FIELD)
    TarvoBridgeCount max_iter;
    TarvoBridgeStopHook should_stop; /* null for none */
    void* stop_context;
} TarvoBridgeSettings;
#undef TARVO_BRIDGE_TOLERANCE_FIELD

/* How a solve ended, from the crate's DefaultInfo. status is the crate's SolverStatus
 * discriminant, its position in CLARABEL_BRIDGE_STATUSES. */
typedef struct TarvoBridgeSolveInfo {
    uint32_t status;
    uint32_t iterations;
    double solve_time; /* seconds */
    double gap_abs;
    double gap_rel;
    double res_primal;
    double res_dual;
} TarvoBridgeSolveInfo;

typedef struct TarvoBridgeProblem TarvoBridgeProblem;

/* Checks that P and A are well-formed CSC matrices (colptr of n+1 nondecreasing entries from
 * 0 to nnz, rows below m and strictly increasing per column) and copies P, q, A, b and the
 * cones into a new handle stored in *out (null on failure). Dimensions are not compared with
 * each other: the solve reports a mismatch as a solver error. */
int32_t tarvo_bridge_problem_new(const TarvoBridgeCsc* P, const double* q, size_t q_len,
                                 const TarvoBridgeCsc* A, const double* b, size_t b_len,
                                 const TarvoBridgeCone* cones, size_t cones_len,
                                 TarvoBridgeProblem** out, char** message);

/* Builds a DefaultSolver with the settings, runs solve(), stores the status and final figures
 * in *info and the primal x in x[0 .. x_len-1]; x_len must equal the number of variables
 * (the length of q).
 * A set tolerance that is negative or not finite is refused (TARVO_BRIDGE_PANIC). */
int32_t tarvo_bridge_problem_solve(const TarvoBridgeProblem* problem,
                                   const TarvoBridgeSettings* settings,
                                   TarvoBridgeSolveInfo* info, double* x, size_t x_len,
                                   char** message);

void tarvo_bridge_problem_free(TarvoBridgeProblem* problem);
void tarvo_bridge_message_free(char* message);

#ifdef __cplusplus
}
#endif

/* The layout of every record, checked at compile time; src/layout.rs asserts the same
 * numbers on the Rust side, so a field moved on one side only fails the build. */
#ifdef __cplusplus
#define TARVO_BRIDGE_LAYOUT(condition) static_assert(condition, #condition)
#else
#define TARVO_BRIDGE_LAYOUT(condition) _Static_assert(condition, #condition)
#endif
TARVO_BRIDGE_LAYOUT(sizeof(void*) == 8 && sizeof(size_t) == 8);
TARVO_BRIDGE_LAYOUT(TARVO_BRIDGE_ZERO_CONE == 0 && TARVO_BRIDGE_NONNEGATIVE_CONE == 1 &&
                    TARVO_BRIDGE_SECOND_ORDER_CONE == 2);
TARVO_BRIDGE_LAYOUT(sizeof(TarvoBridgeCsc) == 64);
TARVO_BRIDGE_LAYOUT(offsetof(TarvoBridgeCsc, m) == 0);
TARVO_BRIDGE_LAYOUT(offsetof(TarvoBridgeCsc, n) == 8);
TARVO_BRIDGE_LAYOUT(offsetof(TarvoBridgeCsc, colptr) == 16);
TARVO_BRIDGE_LAYOUT(offsetof(TarvoBridgeCsc, colptr_len) == 24);
TARVO_BRIDGE_LAYOUT(offsetof(TarvoBridgeCsc, rowval) == 32);
TARVO_BRIDGE_LAYOUT(offsetof(TarvoBridgeCsc, rowval_len) == 40);
TARVO_BRIDGE_LAYOUT(offsetof(TarvoBridgeCsc, nzval) == 48);
TARVO_BRIDGE_LAYOUT(offsetof(TarvoBridgeCsc, nzval_len) == 56);
TARVO_BRIDGE_LAYOUT(sizeof(TarvoBridgeCone) == 16);
TARVO_BRIDGE_LAYOUT(offsetof(TarvoBridgeCone, kind) == 0);
TARVO_BRIDGE_LAYOUT(offsetof(TarvoBridgeCone, dim) == 8);
TARVO_BRIDGE_LAYOUT(sizeof(TarvoBridgeTolerance) == 16);
TARVO_BRIDGE_LAYOUT(offsetof(TarvoBridgeTolerance, value) == 0);
TARVO_BRIDGE_LAYOUT(offsetof(TarvoBridgeTolerance, set) == 8);
TARVO_BRIDGE_LAYOUT(sizeof(TarvoBridgeCount) == 8);
TARVO_BRIDGE_LAYOUT(offsetof(TarvoBridgeCount, value) == 0);
TARVO_BRIDGE_LAYOUT(offsetof(TarvoBridgeCount, set) == 4);
/* The tolerances come first, each at its place in the table. */
#define TARVO_BRIDGE_TOLERANCE_INDEX(name) TARVO_BRIDGE_INDEX_##name,
enum { CLARABEL_BRIDGE_TOLERANCES(TARVO_BRIDGE_TOLERANCE_INDEX) TARVO_BRIDGE_TOLERANCE_COUNT };
#define TARVO_BRIDGE_TOLERANCE_PLACE(name) \
    TARVO_BRIDGE_LAYOUT(offsetof(TarvoBridgeSettings, name) == 16 * TARVO_BRIDGE_INDEX_##name);
CLARABEL_BRIDGE_TOLERANCES(TARVO_BRIDGE_TOLERANCE_PLACE)
#define TARVO_BRIDGE_TOLERANCES_END (16 * TARVO_BRIDGE_TOLERANCE_COUNT)
TARVO_BRIDGE_LAYOUT(sizeof(TarvoBridgeSettings) == TARVO_BRIDGE_TOLERANCES_END + 24);
TARVO_BRIDGE_LAYOUT(offsetof(TarvoBridgeSettings, max_iter) == TARVO_BRIDGE_TOLERANCES_END);
TARVO_BRIDGE_LAYOUT(offsetof(TarvoBridgeSettings, should_stop) == TARVO_BRIDGE_TOLERANCES_END + 8);
TARVO_BRIDGE_LAYOUT(offsetof(TarvoBridgeSettings, stop_context) == TARVO_BRIDGE_TOLERANCES_END + 16);
#undef TARVO_BRIDGE_TOLERANCES_END
#undef TARVO_BRIDGE_TOLERANCE_PLACE
#undef TARVO_BRIDGE_TOLERANCE_INDEX
TARVO_BRIDGE_LAYOUT(sizeof(TarvoBridgeSolveInfo) == 48);
TARVO_BRIDGE_LAYOUT(offsetof(TarvoBridgeSolveInfo, status) == 0);
TARVO_BRIDGE_LAYOUT(offsetof(TarvoBridgeSolveInfo, iterations) == 4);
TARVO_BRIDGE_LAYOUT(offsetof(TarvoBridgeSolveInfo, solve_time) == 8);
TARVO_BRIDGE_LAYOUT(offsetof(TarvoBridgeSolveInfo, gap_abs) == 16);
TARVO_BRIDGE_LAYOUT(offsetof(TarvoBridgeSolveInfo, gap_rel) == 24);
TARVO_BRIDGE_LAYOUT(offsetof(TarvoBridgeSolveInfo, res_primal) == 32);
TARVO_BRIDGE_LAYOUT(offsetof(TarvoBridgeSolveInfo, res_dual) == 40);
#undef TARVO_BRIDGE_LAYOUT

#endif
