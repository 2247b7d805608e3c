// The arguments of the engine's functions, checked and converted before any work starts.
#pragma once

#include <cstddef>
#include <string>

#include "support.hpp"
#include "tarvo_core/plan.hpp"

namespace tarvo_py {

// The most threads one call may start; more is refused rather than attempted.
inline constexpr std::size_t max_workers = 1024;

struct PlanSettings {
    tarvo_core::plan::Method method = tarvo_core::plan::Method::nodes;
    tarvo_core::plan::Accuracy accuracy = tarvo_core::plan::Accuracy::solver_default;
    tarvo_core::plan::Unreachable unreachable = tarvo_core::plan::Unreachable::fail;
    std::size_t workers = 1;
};

// The cores this process may run on (at least 1).
std::size_t machine_cores() noexcept;

// accuracy: "default" or "high"; unreachable: "fail" or "closest"; workers: None (the
// machine's cores) or an int from 1 to max_workers; method: "nodes" or "continuous". A null
// argument takes the default. False with TypeError or ValueError set, naming the argument.
bool read_settings(PyObject* accuracy, PyObject* unreachable, PyObject* workers,
                   PyObject* method, PlanSettings& out);

// The name of a method, as read_settings reads it.
const char* method_name(tarvo_core::plan::Method method);

// The configuration held by a tarvo.Config (or an instance of a subclass), copied into `out`.
// False with TypeError set ("<name> must be a tarvo.Config, not <type>").
bool read_config(const ModuleState& state, PyObject* value, const std::string& name,
                 tarvo_core::config::Config& out);

// A callback argument: null or None (no callback) or a callable. False with TypeError set.
bool check_callback(PyObject* callback, const char* name);

// The options of plan_landing for these settings: no cancel flag, trials one after another.
tarvo_core::plan::Options plan_options(const PlanSettings& settings);

}  // namespace tarvo_py
