#include "planned_landing.hpp"

#include <chrono>
#include <limits>
#include <string>
#include <tuple>
#include <utility>

#include "node_arrays.hpp"
#include "numpy_arrays.hpp"

namespace tarvo_py {

namespace {

using tarvo_core::search::TrialReport;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

PyObject* text(const std::string& value)
{
    return PyUnicode_DecodeUTF8(value.data(), static_cast<Py_ssize_t>(value.size()), "replace");
}

// Sets dict[key] to `value`, a new reference that is always released. False with an
// exception set when value is null or the assignment fails.
bool put(PyObject* dict, const char* key, PyObject* value)
{
    const OwnedRef owned(value);
    return owned && PyDict_SetItemString(dict, key, owned.get()) == 0;
}

PyObject* trials_to_python(const std::vector<TrialReport>& trials)
{
    OwnedRef list(PyList_New(static_cast<Py_ssize_t>(trials.size())));
    for (std::size_t index = 0; list && index < trials.size(); ++index) {
        PyObject* trial = trial_to_python(trials[index]);
        // PyList_SetItem takes the trial's reference, also when it fails.
        if (trial == nullptr ||
            PyList_SetItem(list.get(), static_cast<Py_ssize_t>(index), trial) < 0) {
            return nullptr;
        }
    }
    return list.release();
}

// The failure kind as the package names it.
const char* failure_name(tarvo_core::FailureKind kind)
{
    switch (kind) {
        case tarvo_core::FailureKind::invalid_input: return "InvalidInput";
        case tarvo_core::FailureKind::solver_status: return "SolverStatus";
        case tarvo_core::FailureKind::infeasible: return "Infeasible";
        case tarvo_core::FailureKind::cancelled: return "Cancelled";
        case tarvo_core::FailureKind::solver_error: return "SolverError";
    }
    return "SolverError";
}

// "failure" and "solver_status": both None for a landing.
bool put_failure(PyObject* dict, const tarvo_core::Failure* failure)
{
    const bool has_status =
        failure != nullptr && failure->kind == tarvo_core::FailureKind::solver_status;
    return put(dict, "failure",
               failure != nullptr ? PyUnicode_FromString(failure_name(failure->kind))
                                  : Py_NewRef(Py_None)) &&
           put(dict, "solver_status", has_status ? text(failure->status) : Py_NewRef(Py_None));
}

// The conic solver's final duality gaps and residuals.
PyObject* final_solve_figures(const tarvo_core::solve::SolverInfo& info)
{
    return Py_BuildValue("(dddd)", info.gap_abs, info.gap_rel, info.res_primal, info.res_dual);
}

// The per-node arrays under the names of PyTrajectory, or None for each when there are none.
bool put_arrays(ModuleState& state, PyObject* dict, const Trajectory* trajectory)
{
    bool all_put = true;
    std::apply(
        [&](const auto&... array) {
            ((all_put = all_put && put(dict, array.name,
                                       trajectory != nullptr
                                           ? to_array(state, trajectory->*array.member)
                                           : Py_NewRef(Py_None))),
             ...);
        },
        node_arrays);
    return all_put;
}

}  // namespace

PlannedLanding plan_and_time(const tarvo_core::config::Config& config,
                             tarvo_core::plan::Options options)
{
    PlannedLanding landing;
    options.observe = [&landing, observe = std::move(options.observe)](const TrialReport& trial) {
        landing.trials.push_back(trial);
        if (observe) {
            observe(trial);
        }
    };
    const auto started = std::chrono::steady_clock::now();
    landing.outcome.emplace(tarvo_core::plan::plan_landing(config, options));
    landing.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return landing;
}

PyObject* trial_to_python(const TrialReport& trial)
{
    const bool has_status = trial.failure == tarvo_core::FailureKind::solver_status;
    const OwnedRef status(text(trial.status));
    const OwnedRef failure(trial.failure ? PyUnicode_FromString(failure_name(*trial.failure))
                                         : Py_NewRef(Py_None));
    const OwnedRef solver_status(has_status ? text(trial.solver_status) : Py_NewRef(Py_None));
    if (!status || !failure || !solver_status) {
        return nullptr;
    }
    return Py_BuildValue("(dOdIOO)", trial.time_of_flight, status.get(), trial.final_mass,
                         static_cast<unsigned int>(trial.iterations), failure.get(),
                         solver_status.get());
}

PyObject* landing_to_python(ModuleState& state, const PlannedLanding& landing)
{
    const tarvo_core::plan::Outcome& outcome = landing.outcome.value();
    const bool ok = outcome.trajectory.ok();
    const Trajectory* trajectory = ok ? &outcome.trajectory.value() : nullptr;
    OwnedRef dict(PyDict_New());
    const bool built =
        dict && put(dict.get(), "ok", PyBool_FromLong(ok)) &&
        put(dict.get(), "status",
            text(ok ? trajectory->status : outcome.trajectory.error().text)) &&
        put_failure(dict.get(), ok ? nullptr : &outcome.trajectory.error()) &&
        put(dict.get(), "note", text(outcome.note)) &&
        put(dict.get(), "time_of_flight", PyFloat_FromDouble(ok ? outcome.time_of_flight : nan)) &&
        put(dict.get(), "objective", PyFloat_FromDouble(ok ? trajectory->objective : nan)) &&
        put(dict.get(), "final_mass", PyFloat_FromDouble(ok ? trajectory->final_mass : nan)) &&
        put(dict.get(), "miss_distance", PyFloat_FromDouble(ok ? outcome.miss_distance : nan)) &&
        put(dict.get(), "iterations", PyLong_FromUnsignedLongLong(outcome.iterations)) &&
        put(dict.get(), "solve_seconds", PyFloat_FromDouble(landing.seconds)) &&
        put(dict.get(), "trials", trials_to_python(landing.trials)) &&
        put(dict.get(), "solver",
            ok ? final_solve_figures(trajectory->solver_info) : Py_NewRef(Py_None)) &&
        put_arrays(state, dict.get(), trajectory);
    return built ? dict.release() : nullptr;
}

}  // namespace tarvo_py
