// ProblemData, the settings record and status names over the bridge's C ABI (bridge_abi.h).
#include "clarabel_bridge/clarabel.hpp"

#include <cstdint>
#include <exception>
#include <iterator>
#include <string>

#include <new>

#include "bridge_abi.h"

namespace clarabel_bridge {
namespace {

// Owns a message from the bridge and releases it with tarvo_bridge_message_free.
class BridgeMessage {
public:
    BridgeMessage() = default;
    BridgeMessage(const BridgeMessage&) = delete;
    BridgeMessage& operator=(const BridgeMessage&) = delete;
    ~BridgeMessage() { tarvo_bridge_message_free(text_); }

    char** slot() { return &text_; }
    std::string text() const { return text_ ? std::string(text_) : std::string("(no message)"); }

private:
    char* text_ = nullptr;
};

// Failed allocations surface as std::bad_alloc, as everywhere else in C++.
void throw_if_no_memory(std::int32_t code) {
    if (code == TARVO_BRIDGE_NO_MEMORY) {
        throw std::bad_alloc();
    }
}

static_assert(static_cast<std::uint32_t>(ConeKind::ZeroConeT) == TARVO_BRIDGE_ZERO_CONE);
static_assert(static_cast<std::uint32_t>(ConeKind::NonnegativeConeT) ==
              TARVO_BRIDGE_NONNEGATIVE_CONE);
static_assert(static_cast<std::uint32_t>(ConeKind::SecondOrderConeT) ==
              TARVO_BRIDGE_SECOND_ORDER_CONE);

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

#define CLARABEL_BRIDGE_STATUS_NAME(name) #name,
constexpr const char* status_names[] = {CLARABEL_BRIDGE_STATUSES(CLARABEL_BRIDGE_STATUS_NAME)};
#undef CLARABEL_BRIDGE_STATUS_NAME
constexpr std::uint32_t status_count = std::size(status_names);

TarvoBridgeTolerance tolerance(const std::optional<double>& value) {
    return value ? TarvoBridgeTolerance{*value, 1} : TarvoBridgeTolerance{0.0, 0};
}

// The caller's stop hook and the exception it threw, if any: nothing may unwind through the
// Rust frames between the solver and the hook.
struct StopRequest {
    const std::function<bool()>* should_stop;
    std::exception_ptr failure;
};

std::int32_t ask_stop_request(void* context) noexcept {
    auto* request = static_cast<StopRequest*>(context);
    try {
        return (*request->should_stop)() ? 1 : 0;
    } catch (...) {
        request->failure = std::current_exception();
        return 1;
    }
}

TarvoBridgeSettings to_record(const Settings& settings, StopRequest* stop) {
    TarvoBridgeSettings record{};
#define CLARABEL_BRIDGE_TOLERANCE_COPY(name) record.name = tolerance(settings.name);
    CLARABEL_BRIDGE_TOLERANCES(CLARABEL_BRIDGE_TOLERANCE_COPY)
#undef CLARABEL_BRIDGE_TOLERANCE_COPY
    if (settings.max_iter) {
        record.max_iter = {*settings.max_iter, 1};
    }
    if (settings.should_stop) {
        record.should_stop = ask_stop_request;
        record.stop_context = stop;
    }
    return record;
}

SolverFigures figures_of(const TarvoBridgeSolveInfo& info) {
    return {info.iterations, info.solve_time, info.gap_abs,
            info.gap_rel,    info.res_primal, info.res_dual};
}

}  // namespace

std::string status_name(SolverStatus status) {
    const auto code = static_cast<std::uint32_t>(status);
    return code < status_count ? status_names[code] : "";
}

void ProblemData::Release::operator()(void* handle) const noexcept {
    tarvo_bridge_problem_free(as_problem(handle));
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
    BridgeMessage message;
    const std::int32_t code =
        tarvo_bridge_problem_new(&p_view, q.data(), q.size(), &a_view, b.data(), b.size(),
                                 flat_cones.data(), flat_cones.size(), &handle, message.slot());
    throw_if_no_memory(code);
    if (code != TARVO_BRIDGE_OK) {
        tarvo_bridge_problem_free(handle);
        return Panic{message.text()};
    }
    return ProblemData(handle, q.size());
}

std::variant<Solution, SolverError, Panic> ProblemData::solve(const Settings& settings) const {
    if (!handle_) {
        return Panic{"solve on a moved-from ProblemData"};
    }
    StopRequest stop{&settings.should_stop, nullptr};
    const TarvoBridgeSettings record = to_record(settings, &stop);
    Solution solution{SolverStatus::Unsolved, {}, std::vector<double>(variable_count_, 0.0)};
    TarvoBridgeSolveInfo info{};
    BridgeMessage message;
    const std::int32_t code = tarvo_bridge_problem_solve(
        as_problem(handle_.get()), &record, &info, solution.x.data(), solution.x.size(), message.slot());
    if (stop.failure) {
        std::rethrow_exception(stop.failure);
    }
    throw_if_no_memory(code);
    if (code == TARVO_BRIDGE_SOLVER_ERROR) {
        return SolverError{message.text()};
    }
    if (code != TARVO_BRIDGE_OK) {
        return Panic{message.text()};
    }
    if (info.status >= status_count) {
        return Panic{"unknown solver status " + std::to_string(info.status)};
    }
    solution.status = static_cast<SolverStatus>(info.status);
    solution.figures = figures_of(info);
    return solution;
}

}  // namespace clarabel_bridge
