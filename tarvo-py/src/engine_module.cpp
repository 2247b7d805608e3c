// The extension module _engine: planning with the interpreter lock released, trial by trial
// callbacks, Ctrl-C, and batches on a pool of threads, over the same core as _tarvo. It reads
// configurations in their portable form and returns plain values, so it needs none of
// _tarvo's objects (its state keeps no classes); its internal faults raise _tarvo's
// PanicException.
#include "engine_plan.hpp"
#include "engine_settings.hpp"
#include "numpy_arrays.hpp"
#include "portable_config.hpp"
#include "support.hpp"

namespace tarvo_py {

namespace {

// The options every call shares, after its first parameter: accuracy, unreachable, workers,
// the callback and the method.
constexpr int option_count = 5;

// Binds (first, accuracy, unreachable, workers, callback, method), reads the settings and
// checks the callback. Returns the first argument (borrowed) or null with an exception set.
PyObject* bind_call(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, PlanSettings& settings, PyObject*& callback)
{
    PyObject* values[1 + option_count] = {};
    if (!bind_fast_call(signature, args, nargs, kwnames, values) ||
        !read_settings(values[1], values[2], values[3], values[5], settings) ||
        !check_callback(values[4], signature.names[4])) {
        return nullptr;
    }
    callback = values[4] == Py_None ? nullptr : values[4];
    return values[0];
}

PyObject* plan(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
               PyObject* kwnames) noexcept
{
    return guarded_in<PyObject*>(module, nullptr, [=](ModuleState& state) -> PyObject* {
        static constexpr const char* names[] = {"portable", "accuracy", "unreachable",
                                                "workers", "on_trial", "method"};
        const Signature signature{"plan()", names, 1 + option_count, 1};
        PlanSettings settings;
        PyObject* on_trial = nullptr;
        PyObject* portable = bind_call(signature, args, nargs, kwnames, settings, on_trial);
        tarvo_core::config::Config config;
        if (portable == nullptr || !config_from_portable(portable, config)) {
            return nullptr;
        }
        return plan_one(state, config, settings, on_trial);
    });
}

PyObject* plan_batch(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames) noexcept
{
    return guarded_in<PyObject*>(module, nullptr, [=](ModuleState& state) -> PyObject* {
        static constexpr const char* names[] = {"portables", "accuracy", "unreachable",
                                                "workers", "on_landing", "method"};
        const Signature signature{"plan_batch()", names, 1 + option_count, 1};
        PlanSettings settings;
        PyObject* on_landing = nullptr;
        PyObject* portables = bind_call(signature, args, nargs, kwnames, settings, on_landing);
        return portables != nullptr ? plan_batch(state, portables, settings, on_landing) : nullptr;
    });
}

PyMethodDef functions[] = {
    {"plan", reinterpret_cast<PyCFunction>(slot_function(plan)), METH_FASTCALL | METH_KEYWORDS,
     "plan(portable, accuracy='standard', unreachable='fail', workers=None, on_trial=None,\n"
     "     method='nodes')\n"
     "--\n\n"
     "Plan one landing from its portable configuration (tarvo._portable) and return it\n"
     "as a dict.\n\n"
     "The numeric work runs without the interpreter lock, on threads of its own; a search\n"
     "runs up to `workers` trials at once (default: the machine's cores, at most 1024),\n"
     "with the same trials and numbers for every count. on_trial(time_of_flight, status,\n"
     "final_mass, iterations, failure, solver_status) is called for each trial the landing\n"
     "uses, in order, in the calling thread; a failed trial has its failure text as\n"
     "status, a final_mass of -inf, and its failure and solver_status as in the dict\n"
     "below (both None for a trial that landed). Ctrl-C, or an exception raised by\n"
     "on_trial, is raised within a tenth of a second and no result is returned: the work\n"
     "stops at its next solver iteration, or ends on its own after a solver setup that\n"
     "cannot be interrupted.\n\n"
     "accuracy is 'standard' (the solver's default tolerances) or 'high'; unreachable is\n"
     "'fail' or 'closest' (the landing nearest to an unreachable target); method is 'nodes'\n"
     "(the limits held at the nodes: the numbers of tarvo.solve) or 'continuous' (held at\n"
     "every instant of the flight; use it with accuracy='high').\n\n"
     "The dict: ok; status (the final solve's solver status, or the failure text when not\n"
     "ok); failure (None when ok, else 'InvalidInput', 'SolverStatus', 'Infeasible',\n"
     "'Cancelled' or 'SolverError'); solver_status (the solver's status name, such as\n"
     "'PrimalInfeasible', when failure is 'SolverStatus', else None); note (what an\n"
     "option changed, '' when nothing); time_of_flight, objective,\n"
     "final_mass and miss_distance (NaN when not ok); iterations (interior-point\n"
     "iterations of every solve, failed and speculative trials included); solve_seconds;\n"
     "trials (the tuples on_trial gets, whose iterations are 0 for a failed trial);\n"
     "solver (gap_abs, gap_rel, res_primal, res_dual of the final solve, None when not\n"
     "ok); and the float64 arrays positions, velocities, u_values, thrusts,\n"
     "normalized_thrusts, z_values, s_values, time_points, as on PyTrajectory (None when\n"
     "not ok).\n\n"
     "A bad portable configuration raises TypeError, ValueError or OverflowError naming\n"
     "the field; a bad option TypeError or ValueError naming the option."},
    {"plan_batch", reinterpret_cast<PyCFunction>(slot_function(plan_batch)),
     METH_FASTCALL | METH_KEYWORDS,
     "plan_batch(portables, accuracy='standard', unreachable='fail', workers=None,\n"
     "           on_landing=None, method='nodes')\n"
     "--\n\n"
     "Plan every portable configuration of the iterable `portables` and return a list of\n"
     "results in input order, each the dict of plan() or, for an entry that failed alone\n"
     "(a bad portable configuration, an internal fault), the exception that stopped it.\n\n"
     "`workers` threads (default: the machine's cores, at most 1024) plan one entry each at\n"
     "a time, the trials of a search one after another, without the interpreter lock.\n"
     "on_landing(index) is called in the calling thread as each entry finishes. Ctrl-C, or\n"
     "an exception raised by on_landing, stops the batch as plan() stops its work (entries\n"
     "not yet started are skipped) and is raised; no result is returned then."},
    {nullptr, nullptr, 0, nullptr},
};

// Takes PanicException from _tarvo, so that both modules raise the one class.
PyObject* take_panic_exception()
{
    const OwnedRef tarvo_module(PyImport_ImportModule("tarvo._tarvo"));
    OwnedRef type(tarvo_module ? PyObject_GetAttrString(tarvo_module.get(), "PanicException")
                               : nullptr);
    if (type && (!PyType_Check(type.get()) ||
                 !PyType_IsSubtype(reinterpret_cast<PyTypeObject*>(type.get()),
                                   reinterpret_cast<PyTypeObject*>(PyExc_BaseException)))) {
        PyErr_SetString(PyExc_TypeError, "tarvo._tarvo.PanicException is not an exception class");
        return nullptr;
    }
    return type.release();
}

int exec_module(PyObject* module) noexcept
{
    auto* state = static_cast<ModuleState*>(PyModule_GetState(module));
    if (state == nullptr || (state->panic_exception = take_panic_exception()) == nullptr) {
        return -1;
    }
    state->buffer_owner_type = create_buffer_owner_type(module);
    return state->buffer_owner_type != nullptr ? 0 : -1;
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, slot_function(exec_module)},
    {0, nullptr},
};

}  // namespace

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "_engine",
    "Planning with the interpreter lock released: plan() one landing, plan_batch() many.",
    sizeof(ModuleState),
    functions,
    module_slots,
    traverse_module_state,
    clear_module_state,
    free_module_state,
};

}  // namespace tarvo_py

PyMODINIT_FUNC PyInit__engine(void)
{
    return PyModuleDef_Init(&tarvo_py::module_def);
}
