// The extension module _tarvo: its definition, the exec step that registers the classes and
// the function, and the solve entry point.
#include <optional>
#include <utility>

#include "record_object.hpp"
#include "support.hpp"
#include "tarvo_core/search.hpp"
#include "tarvo_core/solve.hpp"
#include "trajectory.hpp"

namespace tarvo_py {

namespace {

using tarvo_core::Result;
using tarvo_core::config::Config;
using tarvo_core::solve::Trajectory;

// The argument `config`: bound, type-checked; a wrong type carries the note.
PyObject* bind_config(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames)
{
    static constexpr const char* names[] = {"config"};
    const Signature signature{"solve()", names, 1, 1};
    PyObject* values[1] = {};
    if (!bind_fast_call(signature, args, nargs, kwnames, values)) {
        return nullptr;
    }
    PyObject* config = values[0];
    PyTypeObject* config_type = record_type<Config>;
    if (Py_TYPE(config) != config_type && !PyType_IsSubtype(Py_TYPE(config), config_type)) {
        raise_not_instance(config, "Config");
        add_argument_note("config");
        return nullptr;
    }
    return config;
}

// The fixed-horizon solve when the time of flight is set, else the time-of-flight search.
Result<Trajectory> solve_record(const Config& config)
{
    if (const std::optional<double>& time_of_flight = config.solver.time_of_flight) {
        return tarvo_core::solve::solve_fixed(config, *time_of_flight);
    }
    return tarvo_core::search::search_time_of_flight(config);
}

PyObject* solve(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept
{
    return guarded<PyObject*>(nullptr, [args, nargs, kwnames]() -> PyObject* {
        PyObject* argument = bind_config(args, nargs, kwnames);
        if (argument == nullptr) {
            return nullptr;
        }
        std::optional<Result<Trajectory>> result;
        {
            // The record is read in place, under a reference and shared read access, both given
            // back before the result object is built.
            const OwnedRef config = OwnedRef::borrowed(argument);
            RecordObject<Config>* object = as_record_object<Config>(config.get());
            ReadAccess access(object->access);
            if (!access.held()) {
                add_argument_note("config");
                return nullptr;
            }
            result.emplace(solve_record(object->record));
        }
        if (!result->ok()) {
            raise_with_text(PyExc_ValueError, result->error().text);
            return nullptr;
        }
        return new_trajectory_object(std::move(*result).value());
    });
}

PyMethodDef solve_def = {"solve", reinterpret_cast<PyCFunction>(slot_function(solve)),
                         METH_FASTCALL | METH_KEYWORDS, "solve(config)\n--\n\n"};

// Appends name to the module's __all__ (created when missing), then sets the attribute.
bool add_exported(PyObject* module, PyObject* name, PyObject* value)
{
    OwnedRef all(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) {
            return false;
        }
        PyErr_Clear();
        all.reset(PyList_New(0));
        if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) {
            return false;
        }
    }
    return PyList_Append(all.get(), name) == 0 && PyObject_SetAttr(module, name, value) == 0;
}

bool add_class(PyObject* module, PyTypeObject* type)
{
    if (type == nullptr) {
        return false;
    }
    OwnedRef name(PyType_GetName(type));
    return name && add_exported(module, name.get(), reinterpret_cast<PyObject*>(type));
}

bool add_solve(PyObject* module)
{
    OwnedRef module_name(PyModule_GetNameObject(module));
    OwnedRef function(module_name ? PyCFunction_NewEx(&solve_def, module, module_name.get())
                                  : nullptr);
    OwnedRef name(function ? PyObject_GetAttrString(function.get(), "__name__") : nullptr);
    return name && add_exported(module, name.get(), function.get());
}

bool add_panic_exception(PyObject* module)
{
    PyObject* type = panic_exception_type();
    return type != nullptr && PyObject_SetAttrString(module, "PanicException", type) == 0;
}

int exec_module(PyObject* module) noexcept
{
    return guarded<int>(-1, [module]() -> int {
        if (!PyModule_Check(module)) {
            PyErr_SetString(PyExc_TypeError, "the exec step needs a module object");
            return -1;
        }
        const bool added = ensure_config_classes() &&
                           add_class(module, record_type<Config>) &&
                           add_class(module, record_type<tarvo_core::config::Spacecraft>) &&
                           add_class(module, record_type<tarvo_core::config::Environment>) &&
                           add_class(module, record_type<tarvo_core::config::Solver>) &&
                           add_class(module, ensure_trajectory_class()) && add_solve(module) &&
                           add_panic_exception(module);
        return added ? 0 : -1;
    });
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, slot_function(exec_module)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "_tarvo",
    "",
    0,
    nullptr,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

}  // namespace tarvo_py

PyMODINIT_FUNC PyInit__tarvo(void)
{
    return PyModuleDef_Init(&tarvo_py::module_def);
}
