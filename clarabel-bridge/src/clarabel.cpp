// ProblemData and status names over the bridge's C ABI (bridge_abi.h).
#include "clarabel_bridge/clarabel.hpp"

#include <array>
#include <cstdint>
#include <string>

#include "bridge_abi.h"
#include "bridge_message.hpp"
#include "settings_record.hpp"

namespace clarabel {
namespace {

// Indexed by the SolverStatus value, which follows the crate's variant order.
constexpr std::array<std::string_view, 12> status_names{
    "Unsolved",
    "Solved",
    "PrimalInfeasible",
    "DualInfeasible",
    "AlmostSolved",
    "AlmostPrimalInfeasible",
    "AlmostDualInfeasible",
    "MaxIterations",
    "MaxTime",
    "NumericalError",
    "InsufficientProgress",
    "CallbackTerminated",
};

TarvoBridgeCsc view_of(const CscMatrix& matrix) {
    return {matrix.m,
            matrix.n,
            matrix.colptr.data(),
            matrix.colptr.size(),
            matrix.rowval.data(),
            matrix.rowval.size(),
            matrix.nzval.data(),
            matrix.nzval.size()};
}

std::vector<TarvoBridgeCone> cone_specs(std::span<const SupportedConeT> cones) {
    std::vector<TarvoBridgeCone> flat_cones;
    flat_cones.reserve(cones.size());
    for (const SupportedConeT& cone : cones) {
        flat_cones.push_back({static_cast<std::uint32_t>(cone.kind), cone.dim});
    }
    return flat_cones;
}

TarvoBridgeProblem* as_problem(void* handle) { return static_cast<TarvoBridgeProblem*>(handle); }

}  // namespace

std::string_view status_name(SolverStatus status) {
    const auto index = static_cast<std::size_t>(status);
    return index < status_names.size() ? status_names[index] : std::string_view();
}

std::variant<ProblemData, Panic> ProblemData::copy_in(const CscMatrix& P,
                                                      std::span<const double> q,
                                                      const CscMatrix& A,
                                                      std::span<const double> b,
                                                      std::span<const SupportedConeT> cones) {
    const TarvoBridgeCsc p_view = view_of(P);
    const TarvoBridgeCsc a_view = view_of(A);
    const std::vector<TarvoBridgeCone> flat_cones = cone_specs(cones);
    TarvoBridgeProblem* handle = nullptr;
    detail::BridgeMessage message;
    const std::int32_t code =
        tarvo_bridge_problem_new(&p_view, q.data(), q.size(), &a_view, b.data(), b.size(),
                                 flat_cones.data(), flat_cones.size(), &handle, message.slot());
    detail::throw_if_no_memory(code);
    if (code != TARVO_BRIDGE_OK) {
        tarvo_bridge_problem_free(handle);
        return Panic{message.text()};
    }
    return ProblemData(handle);
}

ProblemData::ProblemData(ProblemData&& other) noexcept : handle_(other.handle_) {
    other.handle_ = nullptr;
}

ProblemData& ProblemData::operator=(ProblemData&& other) noexcept {
    if (this != &other) {
        tarvo_bridge_problem_free(as_problem(handle_));
        handle_ = other.handle_;
        other.handle_ = nullptr;
    }
    return *this;
}

ProblemData::~ProblemData() { tarvo_bridge_problem_free(as_problem(handle_)); }

std::variant<Solution, SolverError, Panic> ProblemData::solve(
    const DefaultSettings& settings) const {
    if (handle_ == nullptr) {
        return Panic{"solve on a moved-from ProblemData"};
    }
    std::size_t variables = 0;
    detail::BridgeMessage count_message;
    if (tarvo_bridge_problem_variable_count(as_problem(handle_), &variables,
                                            count_message.slot()) != TARVO_BRIDGE_OK) {
        return Panic{count_message.text()};
    }
    const TarvoBridgeSettings record = detail::to_record(settings);
    Solution solution{SolverStatus::Unsolved, std::vector<double>(variables, 0.0)};
    std::uint32_t status = 0;
    detail::BridgeMessage message;
    const std::int32_t code =
        tarvo_bridge_problem_solve(as_problem(handle_), &record, &status, solution.x.data(),
                                   solution.x.size(), message.slot());
    detail::throw_if_no_memory(code);
    if (code == TARVO_BRIDGE_SOLVER_ERROR) {
        return SolverError{message.text()};
    }
    if (code != TARVO_BRIDGE_OK) {
        return Panic{message.text()};
    }
    if (status >= status_names.size()) {
        return Panic{"unknown solver status " + std::to_string(status)};
    }
    solution.status = static_cast<SolverStatus>(status);
    return solution;
}

}  // namespace clarabel
