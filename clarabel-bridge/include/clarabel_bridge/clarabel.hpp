// C++ face of the Clarabel conic solver, reached through our Rust bridge library.
//
// The names of the data mirror the Rust crate (`CscMatrix`, `SupportedConeT`, `SolverStatus`);
// `CscMatrix::new` is spelt `new_` because `new` is a C++ keyword. `Settings` holds only what
// tarvo chooses: every other setting of the crate stays at its `DefaultSettings::default()`.
//
// Nothing here throws for solver trouble: a construction error and a Rust panic both come
// back as values (`SolverError`, `Panic`). Only allocation failure (std::bad_alloc) and an
// exception of the caller's own stop hook escape.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "clarabel_bridge/lists.h"

namespace clarabel_bridge {

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

// The settings tarvo chooses: an empty override keeps the crate's default; each tolerance of
// CLARABEL_BRIDGE_TOLERANCES, when set, is finite and at least 0.
#define CLARABEL_BRIDGE_TOLERANCE_MEMBER(name) std::optional<double> name{};
struct Settings {
    CLARABEL_BRIDGE_TOLERANCES(CLARABEL_BRIDGE_TOLERANCE_MEMBER)
    std::optional<std::uint32_t> max_iter{};
    // Asked once per iteration on the solving thread; true ends the solve with status
    // CallbackTerminated. An exception from it ends the solve and is rethrown by solve().
    std::function<bool()> should_stop{};
};
#undef CLARABEL_BRIDGE_TOLERANCE_MEMBER

// The crate's statuses; each value is the code the bridge reports for it.
#define CLARABEL_BRIDGE_STATUS_VALUE(name) name,
enum class SolverStatus : std::uint32_t { CLARABEL_BRIDGE_STATUSES(CLARABEL_BRIDGE_STATUS_VALUE) };
#undef CLARABEL_BRIDGE_STATUS_VALUE

// The crate's own name of the status ("Solved", "PrimalInfeasible", ...); empty when the
// crate has no status with this code.
std::string status_name(SolverStatus status);

// The crate's figures at the end of a solve.
struct SolverFigures {
    std::uint32_t iterations = 0;
    double solve_time = 0.0;  // seconds
    double gap_abs = 0.0;
    double gap_rel = 0.0;
    double res_primal = 0.0;
    double res_dual = 0.0;
};

struct Solution {
    SolverStatus status;
    SolverFigures figures;
    std::vector<double> x;  // primal solution, one entry per variable
};

// `DefaultSolver::new` refused the data; `display` is the error's display text
// ("Bad input data: ...").
struct SolverError {
    std::string display;
};

// A Rust panic caught inside the bridge, or data or settings breaking the bridge's rules: a
// broken invariant, never a user error.
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

    // Creates a `DefaultSolver` on the data with the settings and runs `solve()`.
    std::variant<Solution, SolverError, Panic> solve(const Settings& settings = {}) const;

private:
    struct Release {
        void operator()(void* handle) const noexcept;
    };
    ProblemData(void* handle, std::size_t variable_count)
        : handle_(handle), variable_count_(variable_count) {}
    std::unique_ptr<void, Release> handle_;  // the bridge's handle; null once moved from
    std::size_t variable_count_ = 0;         // the length of q
};

}  // namespace clarabel_bridge
