// The extension module _engine: planning with the interpreter lock released, trial by trial
// callbacks, Ctrl-C, and batches on a pool of threads, over the same core as _tarvo. It
// reads the records of _tarvo's Config objects and makes the package's Landing objects; its
// internal faults raise _tarvo's PanicException. Its state shares _tarvo's exception and
// classes.
#include <cstring>

#include "engine_plan.hpp"
#include "engine_settings.hpp"
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
        static constexpr const char* names[] = {"config", "accuracy", "unreachable",
                                                "workers", "on_trial", "method"};
        const Signature signature{"plan()", names, 1 + option_count, 1};
        PlanSettings settings;
        PyObject* on_trial = nullptr;
        PyObject* given = bind_call(signature, args, nargs, kwnames, settings, on_trial);
        tarvo_core::config::Config config;
        if (given == nullptr || !read_config(state, given, "config", config)) {
            return nullptr;
        }
        return plan_one(state, config, settings, on_trial);
    });
}

PyObject* plan_batch(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames) noexcept
{
    return guarded_in<PyObject*>(module, nullptr, [=](ModuleState& state) -> PyObject* {
        static constexpr const char* names[] = {"configs", "accuracy", "unreachable",
                                                "workers", "on_landing", "method"};
        const Signature signature{"plan_batch()", names, 1 + option_count, 1};
        PlanSettings settings;
        PyObject* on_landing = nullptr;
        PyObject* configs = bind_call(signature, args, nargs, kwnames, settings, on_landing);
        return configs != nullptr ? plan_batch(state, configs, settings, on_landing) : nullptr;
    });
}

PyMethodDef functions[] = {
    {"plan", reinterpret_cast<PyCFunction>(slot_function(plan)), METH_FASTCALL | METH_KEYWORDS,
     "plan(config, accuracy='default', unreachable='fail', workers=None, on_trial=None,\n"
     "     method='nodes')\n"
     "--\n\n"
     "Plan one landing of a tarvo.Config and return it as a tarvo.Landing whose\n"
     "verification is None: the package verifies it before anyone sees it.\n\n"
     "The numeric work runs without the interpreter lock, on threads of its own; a search\n"
     "runs up to `workers` trials at once (default: the machine's cores, at most 1024),\n"
     "with the same trials and numbers for every count. on_trial(trial) is called with\n"
     "each tarvo.Trial the landing uses, in order, in the calling thread. Ctrl-C, or an\n"
     "exception raised by on_trial, is raised within a tenth of a second and no result is\n"
     "returned: the work stops at its next solver iteration, or ends on its own after a\n"
     "solver setup that cannot be interrupted.\n\n"
     "accuracy is 'default' (the solver's default tolerances) or 'high'; unreachable is\n"
     "'fail' or 'closest' (the landing nearest to an unreachable target); method is 'nodes'\n"
     "(the limits held at the nodes: the numbers of tarvo.solve) or 'continuous' (held at\n"
     "every instant of the flight; use it with accuracy='high').\n\n"
     "A failed landing has ok False, its message the failure's text and a short status:\n"
     "the solver's status name (such as 'PrimalInfeasible') when the solver stopped short,\n"
     "else 'InvalidInput', 'Infeasible', 'Cancelled' or 'SolverError'; a failed trial has\n"
     "the same short status and a final_mass of -inf.\n\n"
     "A config that is no tarvo.Config raises TypeError; a bad option TypeError or\n"
     "ValueError naming the option."},
    {"plan_batch", reinterpret_cast<PyCFunction>(slot_function(plan_batch)),
     METH_FASTCALL | METH_KEYWORDS,
     "plan_batch(configs, accuracy='default', unreachable='fail', workers=None,\n"
     "           on_landing=None, method='nodes')\n"
     "--\n\n"
     "Plan every tarvo.Config of the iterable `configs`, all read when the call starts, and\n"
     "return a list of results in input order, each the landing of plan() or, for an entry\n"
     "that failed alone (one that is no Config, an internal fault), the exception that\n"
     "stopped it.\n\n"
     "`workers` threads (default: the machine's cores, at most 1024) plan one entry each at\n"
     "a time, the trials of a search one after another, without the interpreter lock.\n"
     "on_landing(index) is called in the calling thread as each entry finishes. Ctrl-C, or\n"
     "an exception raised by on_landing, stops the batch as plan() stops its work (entries\n"
     "not yet started are skipped) and is raised; no result is returned then."},
    {nullptr, nullptr, 0, nullptr},
};

// The state of tarvo._tarvo, whose exception and classes the engine shares: it reads the
// records of _tarvo's Config objects, so it accepts only the _tarvo built with it. Null with
// ImportError set otherwise.
const ModuleState* tarvo_state(PyObject* tarvo)
{
    const PyModuleDef* def = PyModule_Check(tarvo) ? PyModule_GetDef(tarvo) : nullptr;
    const auto* state = def != nullptr && std::strcmp(def->m_name, "_tarvo") == 0 &&
                                def->m_size == static_cast<Py_ssize_t>(sizeof(ModuleState))
                            ? static_cast<const ModuleState*>(PyModule_GetState(tarvo))
                            : nullptr;
    if (state == nullptr || state->panic_exception == nullptr) {
        PyErr_SetString(PyExc_ImportError,
                        "tarvo._tarvo is not the extension module built with tarvo._engine");
        return nullptr;
    }
    return state;
}

int exec_module(PyObject* module) noexcept
{
    auto* state = static_cast<ModuleState*>(PyModule_GetState(module));
    const OwnedRef tarvo(PyImport_ImportModule("tarvo._tarvo"));
    const ModuleState* shared = tarvo ? tarvo_state(tarvo.get()) : nullptr;
    if (state == nullptr || shared == nullptr) {
        return -1;
    }
    state->panic_exception = Py_NewRef(shared->panic_exception);
    for (std::size_t index = 0; index < state->classes.size(); ++index) {
        state->classes[index] = shared->classes[index];
        Py_INCREF(reinterpret_cast<PyObject*>(state->classes[index]));
    }
    return 0;
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
