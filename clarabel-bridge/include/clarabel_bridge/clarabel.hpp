// C++ face of the Clarabel conic solver, reached through the Rust bridge library.
//
// The names mirror the Rust crate (`CscMatrix`, `SupportedConeT`, `DefaultSettings`,
// `SolverStatus`). `CscMatrix::new` is spelt `new_` because `new` is a C++ keyword.
//
// Nothing here throws for solver trouble: a construction error and a Rust panic both come
// back as values (`SolverError`, `Panic`). Only allocation failure (std::bad_alloc) escapes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace clarabel {

// Compressed-sparse-column matrix: column j stores its entries at colptr[j] .. colptr[j+1]-1.
struct CscMatrix {
    std::size_t m = 0;
    std::size_t n = 0;
    std::vector<std::size_t> colptr{0};
    std::vector<std::size_t> rowval;
    std::vector<double> nzval;

    // An m x n matrix with room for nnz entries: n+1 zero column pointers, nnz zero entries.
    static CscMatrix spalloc(std::size_t m, std::size_t n, std::size_t nnz) {
        return {m, n, std::vector<std::size_t>(n + 1, 0), std::vector<std::size_t>(nnz, 0),
                std::vector<double>(nnz, 0.0)};
    }
    // Takes the three arrays as they are; no entry is merged, dropped or checked here.
    static CscMatrix new_(std::size_t m, std::size_t n, std::vector<std::size_t> colptr,
                          std::vector<std::size_t> rowval, std::vector<double> nzval) {
        return {m, n, std::move(colptr), std::move(rowval), std::move(nzval)};
    }

    std::size_t nnz() const { return rowval.size(); }
};

enum class ConeKind : std::uint32_t { ZeroConeT = 0, NonnegativeConeT = 1, SecondOrderConeT = 2 };

struct SupportedConeT {
    ConeKind kind;
    std::size_t dim;
};

inline SupportedConeT ZeroConeT(std::size_t dim) { return {ConeKind::ZeroConeT, dim}; }
inline SupportedConeT NonnegativeConeT(std::size_t dim) { return {ConeKind::NonnegativeConeT, dim}; }
inline SupportedConeT SecondOrderConeT(std::size_t dim) { return {ConeKind::SecondOrderConeT, dim}; }

// Every field of the crate's settings record. `DefaultSettings::crate_defaults()` fills them
// from the crate itself, so they always match the linked Clarabel release.
struct DefaultSettings {
    std::uint32_t max_iter;
    double time_limit;
    bool verbose;
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
    bool equilibrate_enable;
    std::uint32_t equilibrate_max_iter;
    double equilibrate_min_scaling;
    double equilibrate_max_scaling;
    double linesearch_backtrack_step;
    double min_switch_step_length;
    double min_terminate_step_length;
    std::uint32_t max_threads;
    bool direct_kkt_solver;
    std::string direct_solve_method;
    bool static_regularization_enable;
    double static_regularization_constant;
    double static_regularization_proportional;
    bool dynamic_regularization_enable;
    double dynamic_regularization_eps;
    double dynamic_regularization_delta;
    bool iterative_refinement_enable;
    double iterative_refinement_reltol;
    double iterative_refinement_abstol;
    std::uint32_t iterative_refinement_max_iter;
    double iterative_refinement_stop_ratio;
    bool presolve_enable;
    bool input_sparse_dropzeros;

    static DefaultSettings crate_defaults();
};

enum class SolverStatus : std::uint32_t {
    Unsolved,
    Solved,
    PrimalInfeasible,
    DualInfeasible,
    AlmostSolved,
    AlmostPrimalInfeasible,
    AlmostDualInfeasible,
    MaxIterations,
    MaxTime,
    NumericalError,
    InsufficientProgress,
    CallbackTerminated,
};

// The status's name exactly as the crate spells the variant ("Solved", "PrimalInfeasible", ...).
std::string_view status_name(SolverStatus status);

struct Solution {
    SolverStatus status;
    std::vector<double> x;  // primal solution, one entry per variable
};

// `DefaultSolver::new` refused the data; `display` is the error's display text
// ("Bad input data: ...", "Bad settings: ...", ...).
struct SolverError {
    std::string display;
};

// A Rust panic caught inside the bridge: a broken invariant, never a user error.
struct Panic {
    std::string message;
};

// The program's data copied into solver-owned memory. Kept apart from the solve so that the
// cost of the copy can be measured on its own.
class ProblemData {
public:
    static std::variant<ProblemData, Panic> copy_in(const CscMatrix& P, std::span<const double> q,
                                                    const CscMatrix& A, std::span<const double> b,
                                                    std::span<const SupportedConeT> cones);
    ProblemData(ProblemData&& other) noexcept;
    ProblemData& operator=(ProblemData&& other) noexcept;
    ProblemData(const ProblemData&) = delete;
    ProblemData& operator=(const ProblemData&) = delete;
    ~ProblemData();

    // Creates a `DefaultSolver` on the data and runs `solve()`.
    std::variant<Solution, SolverError, Panic> solve(const DefaultSettings& settings) const;

private:
    explicit ProblemData(void* handle) : handle_(handle) {}
    void* handle_ = nullptr;
};

}  // namespace clarabel
