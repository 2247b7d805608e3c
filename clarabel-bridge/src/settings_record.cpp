// DefaultSettings <-> TarvoBridgeSettings, and the crate's defaults fetched through the bridge.
#include "settings_record.hpp"

#include <algorithm>
#include <cstdint>
#include <stdexcept>

#include "bridge_message.hpp"

namespace clarabel {
namespace detail {
namespace {

std::uint8_t flag(bool value) { return value ? 1 : 0; }

// A name longer than the record's room is passed as its first bytes: no method name of the
// crate is that long, so the truncated name is refused by the crate just as the full one.
void write_method(const std::string& name, TarvoBridgeSettings& record) {
    const std::size_t len = std::min<std::size_t>(name.size(), TARVO_BRIDGE_METHOD_CAPACITY);
    std::copy_n(name.data(), len, record.direct_solve_method);
    record.direct_solve_method_len = len;
}

std::string read_method(const TarvoBridgeSettings& record) {
    const std::size_t len =
        std::min<std::size_t>(record.direct_solve_method_len, TARVO_BRIDGE_METHOD_CAPACITY);
    return std::string(record.direct_solve_method, len);
}

}  // namespace

TarvoBridgeSettings to_record(const DefaultSettings& s) {
    TarvoBridgeSettings r{};
    r.max_iter = s.max_iter;
    r.time_limit = s.time_limit;
    r.verbose = flag(s.verbose);
    r.max_step_fraction = s.max_step_fraction;
    r.tol_gap_abs = s.tol_gap_abs;
    r.tol_gap_rel = s.tol_gap_rel;
    r.tol_feas = s.tol_feas;
    r.tol_infeas_abs = s.tol_infeas_abs;
    r.tol_infeas_rel = s.tol_infeas_rel;
    r.tol_ktratio = s.tol_ktratio;
    r.reduced_tol_gap_abs = s.reduced_tol_gap_abs;
    r.reduced_tol_gap_rel = s.reduced_tol_gap_rel;
    r.reduced_tol_feas = s.reduced_tol_feas;
    r.reduced_tol_infeas_abs = s.reduced_tol_infeas_abs;
    r.reduced_tol_infeas_rel = s.reduced_tol_infeas_rel;
    r.reduced_tol_ktratio = s.reduced_tol_ktratio;
    r.equilibrate_enable = flag(s.equilibrate_enable);
    r.equilibrate_max_iter = s.equilibrate_max_iter;
    r.equilibrate_min_scaling = s.equilibrate_min_scaling;
    r.equilibrate_max_scaling = s.equilibrate_max_scaling;
    r.linesearch_backtrack_step = s.linesearch_backtrack_step;
    r.min_switch_step_length = s.min_switch_step_length;
    r.min_terminate_step_length = s.min_terminate_step_length;
    r.max_threads = s.max_threads;
    r.direct_kkt_solver = flag(s.direct_kkt_solver);
    write_method(s.direct_solve_method, r);
    r.static_regularization_enable = flag(s.static_regularization_enable);
    r.static_regularization_constant = s.static_regularization_constant;
    r.static_regularization_proportional = s.static_regularization_proportional;
    r.dynamic_regularization_enable = flag(s.dynamic_regularization_enable);
    r.dynamic_regularization_eps = s.dynamic_regularization_eps;
    r.dynamic_regularization_delta = s.dynamic_regularization_delta;
    r.iterative_refinement_enable = flag(s.iterative_refinement_enable);
    r.iterative_refinement_reltol = s.iterative_refinement_reltol;
    r.iterative_refinement_abstol = s.iterative_refinement_abstol;
    r.iterative_refinement_max_iter = s.iterative_refinement_max_iter;
    r.iterative_refinement_stop_ratio = s.iterative_refinement_stop_ratio;
    r.presolve_enable = flag(s.presolve_enable);
    r.input_sparse_dropzeros = flag(s.input_sparse_dropzeros);
    return r;
}

DefaultSettings from_record(const TarvoBridgeSettings& r) {
    DefaultSettings s{};
    s.max_iter = r.max_iter;
    s.time_limit = r.time_limit;
    s.verbose = r.verbose != 0;
    s.max_step_fraction = r.max_step_fraction;
    s.tol_gap_abs = r.tol_gap_abs;
    s.tol_gap_rel = r.tol_gap_rel;
    s.tol_feas = r.tol_feas;
    s.tol_infeas_abs = r.tol_infeas_abs;
    s.tol_infeas_rel = r.tol_infeas_rel;
    s.tol_ktratio = r.tol_ktratio;
    s.reduced_tol_gap_abs = r.reduced_tol_gap_abs;
    s.reduced_tol_gap_rel = r.reduced_tol_gap_rel;
    s.reduced_tol_feas = r.reduced_tol_feas;
    s.reduced_tol_infeas_abs = r.reduced_tol_infeas_abs;
    s.reduced_tol_infeas_rel = r.reduced_tol_infeas_rel;
    s.reduced_tol_ktratio = r.reduced_tol_ktratio;
    s.equilibrate_enable = r.equilibrate_enable != 0;
    s.equilibrate_max_iter = r.equilibrate_max_iter;
    s.equilibrate_min_scaling = r.equilibrate_min_scaling;
    s.equilibrate_max_scaling = r.equilibrate_max_scaling;
    s.linesearch_backtrack_step = r.linesearch_backtrack_step;
    s.min_switch_step_length = r.min_switch_step_length;
    s.min_terminate_step_length = r.min_terminate_step_length;
    s.max_threads = r.max_threads;
    s.direct_kkt_solver = r.direct_kkt_solver != 0;
    s.direct_solve_method = read_method(r);
    s.static_regularization_enable = r.static_regularization_enable != 0;
    s.static_regularization_constant = r.static_regularization_constant;
    s.static_regularization_proportional = r.static_regularization_proportional;
    s.dynamic_regularization_enable = r.dynamic_regularization_enable != 0;
    s.dynamic_regularization_eps = r.dynamic_regularization_eps;
    s.dynamic_regularization_delta = r.dynamic_regularization_delta;
    s.iterative_refinement_enable = r.iterative_refinement_enable != 0;
    s.iterative_refinement_reltol = r.iterative_refinement_reltol;
    s.iterative_refinement_abstol = r.iterative_refinement_abstol;
    s.iterative_refinement_max_iter = r.iterative_refinement_max_iter;
    s.iterative_refinement_stop_ratio = r.iterative_refinement_stop_ratio;
    s.presolve_enable = r.presolve_enable != 0;
    s.input_sparse_dropzeros = r.input_sparse_dropzeros != 0;
    return s;
}

}  // namespace detail

// Filling the defaults cannot fail short of a broken bridge, which is reported as
// std::logic_error since this function has no error value to return.
DefaultSettings DefaultSettings::crate_defaults() {
    TarvoBridgeSettings record{};
    detail::BridgeMessage message;
    const std::int32_t code = tarvo_bridge_default_settings(&record, message.slot());
    detail::throw_if_no_memory(code);
    if (code != TARVO_BRIDGE_OK) {
        throw std::logic_error("Clarabel bridge: " + message.text());
    }
    return detail::from_record(record);
}

}  // namespace clarabel
