// The extension module _tarvo: its state, the exec step that creates the classes and the
// function, and the solve entry point.
#include <new>
#include <optional>
#include <utility>

#include "numpy_arrays.hpp"
#include "support.hpp"
#include "tarvo_core/search.hpp"
#include "tarvo_core/solve.hpp"
#include "tarvo_state.hpp"

namespace tarvo_py {

namespace {

using tarvo_core::Result;
using tarvo_core::config::Config;
using tarvo_core::solve::Trajectory;

// The argument `config`: bound, type-checked; a wrong type carries the note.
PyObject* bind_config(const ModuleState& state, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* kwnames)
{
    static constexpr const char* names[] = {"config"};
    const Signature signature{"solve()", names, 1, 1};
    PyObject* values[1] = {};
    if (!bind_fast_call(signature, args, nargs, kwnames, values)) {
        return nullptr;
    }
    if (!PyObject_TypeCheck(values[0], class_of<Config>(state))) {
        raise_not_instance(values[0], "Config");
        add_argument_note("config");
        return nullptr;
    }
    return values[0];
}

// The fixed-horizon solve when the time of flight is set, else the time-of-flight search.
Result<Trajectory> solve_record(const Config& config)
{
    if (const std::optional<double>& time_of_flight = config.solver.time_of_flight) {
        return tarvo_core::solve::solve_fixed(config, *time_of_flight);
    }
    return tarvo_core::search::search_time_of_flight(config);
}

PyObject* solve(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                PyObject* kwnames) noexcept
{
    return guarded_in<PyObject*>(module, nullptr, [=](const ModuleState& state) -> PyObject* {
        PyObject* config = bind_config(state, args, nargs, kwnames);
        if (config == nullptr) {
            return nullptr;
        }
        Result<Trajectory> result = solve_record(as_value_object<Config>(config)->value);
        if (!result.ok()) {
            raise_with_text(PyExc_ValueError, result.error().text);
            return nullptr;
        }
        return new_value_object(class_of<Trajectory>(state), std::move(result).value());
    });
}

PyMethodDef solve_def = {"solve", reinterpret_cast<PyCFunction>(slot_function(solve)),
                         METH_FASTCALL | METH_KEYWORDS, "solve(config)\n--\n\n"};

// Creates PanicException and the classes into `state`. False with an exception set.
bool create_contents(PyObject* module, ModuleState& state)
{
    state.panic_exception = PyErr_NewExceptionWithDoc(
        "tarvo._tarvo.PanicException", "Raised when a broken internal invariant abandons a call.",
        PyExc_BaseException, nullptr);
    return state.panic_exception != nullptr &&
           (state.buffer_owner_type = create_buffer_owner_type(module)) != nullptr &&
           create_config_classes(module, state) &&
           (state.classes[class_index<Trajectory>()] = create_trajectory_class(module)) !=
               nullptr;
}

// The interpreter's dict, where the first _tarvo executed in it is recorded. Borrowed; null
// with SystemError set when the interpreter keeps none.
PyObject* interpreter_dict()
{
    PyObject* dict = PyInterpreterState_GetDict(PyInterpreterState_Get());
    if (dict == nullptr) {
        PyErr_SetString(PyExc_SystemError, "the interpreter keeps no dict for extension modules");
    }
    return dict;
}

constexpr const char* first_module_key = "tarvo._tarvo";

// Takes the contents of the first _tarvo executed in this interpreter, or creates them when
// `module` is that first one and records it: a module imported again after it left
// sys.modules keeps the classes, so the objects made before stay valid for it.
bool take_contents(PyObject* module, ModuleState& state)
{
    PyObject* dict = interpreter_dict();
    PyObject* first = dict != nullptr ? PyDict_GetItemString(dict, first_module_key) : nullptr;
    if (first == nullptr) {
        return dict != nullptr && create_contents(module, state) &&
               PyDict_SetItemString(dict, first_module_key, module) == 0;
    }
    const ModuleState* first_state = module_state(first);
    if (first_state == nullptr) {
        return false;
    }
    state = *first_state;
    Py_INCREF(state.panic_exception);
    Py_INCREF(reinterpret_cast<PyObject*>(state.buffer_owner_type));
    for (PyTypeObject* type : state.classes) {
        Py_INCREF(reinterpret_cast<PyObject*>(type));
    }
    return true;
}

// Sets __all__, then each exported name, listed in __all__ as it is set: the classes, then
// solve; PanicException is set last and not listed.
bool add_exports(PyObject* module, const ModuleState& state)
{
    const OwnedRef all(PyList_New(0));
    const OwnedRef module_name(PyModule_GetNameObject(module));
    const OwnedRef function(module_name ? PyCFunction_NewEx(&solve_def, module, module_name.get())
                                        : nullptr);
    if (!all || !function || PyObject_SetAttrString(module, "__all__", all.get()) < 0) {
        return false;
    }
    const auto add = [&](PyObject* value) {
        const OwnedRef name(PyObject_GetAttrString(value, "__name__"));
        return name && PyList_Append(all.get(), name.get()) == 0 &&
               PyObject_SetAttr(module, name.get(), value) == 0;
    };
    for (PyTypeObject* type : state.classes) {
        if (!add(reinterpret_cast<PyObject*>(type))) {
            return false;
        }
    }
    return add(function.get()) &&
           PyObject_SetAttrString(module, "PanicException", state.panic_exception) == 0;
}

// Creating the classes allocates only their names in C++; that may fail, and nothing else
// throws.
int exec_module(PyObject* module) noexcept
{
    try {
        auto* state = static_cast<ModuleState*>(PyModule_GetState(module));
        return state != nullptr && take_contents(module, *state) && add_exports(module, *state)
                   ? 0
                   : -1;
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return -1;
    }
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, slot_function(exec_module)},
    {0, nullptr},
};

}  // namespace

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "_tarvo",
    "",
    sizeof(ModuleState),
    nullptr,
    module_slots,
    traverse_module_state,
    clear_module_state,
    free_module_state,
};

ModuleState* first_module_state() noexcept
{
    PyObject* dict = interpreter_dict();
    PyObject* first = dict != nullptr ? PyDict_GetItemString(dict, first_module_key) : nullptr;
    if (dict != nullptr && first == nullptr) {
        PyErr_SetString(PyExc_SystemError, "tarvo._tarvo has not been imported");
    }
    return first != nullptr ? module_state(first) : nullptr;
}

}  // namespace tarvo_py

PyMODINIT_FUNC PyInit__tarvo(void)
{
    return PyModuleDef_Init(&tarvo_py::module_def);
}
