#include "support.hpp"

#include <chrono>
#include <cstring>
#include <exception>
#include <new>
#include <thread>

#if defined(__GLIBC__) && defined(__GLIBCXX__)
// Public since CPython 3.4 and exported by every interpreter, though outside the limited API;
// the limited API has no exact answer on 3.11, whose current thread state is process-wide.
extern "C" int PyGILState_Check(void);
#endif

namespace tarvo_py {

void raise_with_text(PyObject* type, std::string_view text) noexcept
{
    // Decoding with "replace" cannot fail on bad bytes, and embedded NULs survive.
    OwnedRef message(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()),
                                          "replace"));
    if (message) {
        PyErr_SetObject(type, message.get());
    }
}

// The fetch/normalize/restore calls are deprecated from 3.12 on but remain in the stable ABI,
// and their replacements are not available to a 3.11 limited-API build.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
PyObject* take_raised_exception() noexcept
{
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    const OwnedRef owned_type(type);
    const OwnedRef owned_traceback(traceback);
    if (value != nullptr && traceback != nullptr) {
        PyException_SetTraceback(value, traceback);
    }
    return value;
}

void add_argument_note(const char* name) noexcept
{
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    if (value != nullptr) {
        if (traceback != nullptr) {
            PyException_SetTraceback(value, traceback);
        }
        const OwnedRef note(PyUnicode_FromFormat("while processing '%s'", name));
        const OwnedRef added(note ? PyObject_CallMethod(value, "add_note", "O", note.get())
                                  : nullptr);
        if (!added) {
            PyErr_Clear();
        }
    }
    PyErr_Restore(type, value, traceback);
}
#pragma GCC diagnostic pop

std::string take_error_text()
{
    const OwnedRef error(take_raised_exception());
    const OwnedRef text(error ? PyObject_Str(error.get()) : nullptr);
    Py_ssize_t length = 0;
    const char* utf8 = text ? PyUnicode_AsUTF8AndSize(text.get(), &length) : nullptr;
    PyErr_Clear();
    return utf8 != nullptr ? std::string(utf8, static_cast<std::size_t>(length)) : std::string();
}

void raise_not_instance(PyObject* object, const char* expected) noexcept
{
    if (object == Py_None) {
        PyErr_Format(PyExc_TypeError, "'None' is not an instance of '%s'", expected);
        return;
    }
    OwnedRef qualname(PyType_GetQualName(Py_TYPE(object)));
    if (qualname) {
        PyErr_Format(PyExc_TypeError, "'%U' object is not an instance of '%s'", qualname.get(),
                     expected);
    }
}

void raise_wrong_type(const std::string& requirement, PyObject* value) noexcept
{
    OwnedRef qualname(PyType_GetQualName(Py_TYPE(value)));
    if (qualname) {
        PyErr_Format(PyExc_TypeError, "%s, not %U", requirement.c_str(), qualname.get());
    }
}

ModuleState* module_state(PyObject* module) noexcept
{
    auto* state = static_cast<ModuleState*>(PyModule_GetState(module));
    if (state != nullptr && state->panic_exception != nullptr) {
        return state;
    }
    if (!PyErr_Occurred()) {
        PyErr_Format(PyExc_SystemError, "the module %s has been cleared", module_def.m_name);
    }
    return nullptr;
}

ModuleState* module_state(PyTypeObject* type) noexcept
{
    for (PyTypeObject* base = type; base != nullptr;
         base = static_cast<PyTypeObject*>(PyType_GetSlot(base, Py_tp_base))) {
        PyObject* module = PyType_GetModule(base);  // TypeError for a class without one
        if (module != nullptr && PyModule_GetDef(module) == &module_def) {
            return module_state(module);
        }
        PyErr_Clear();
    }
    PyErr_Format(PyExc_TypeError, "the object's class does not come from %s", module_def.m_name);
    return nullptr;
}

int traverse_module_state(PyObject* module, visitproc visit, void* arg) noexcept
{
    const auto* state = static_cast<const ModuleState*>(PyModule_GetState(module));
    if (state != nullptr) {
        Py_VISIT(state->panic_exception);
        Py_VISIT(reinterpret_cast<PyObject*>(state->buffer_owner_type));
        for (PyTypeObject* type : state->classes) {
            Py_VISIT(reinterpret_cast<PyObject*>(type));
        }
        for (PyObject* object : state->landing_kit) {
            Py_VISIT(object);
        }
    }
    return 0;
}

int clear_module_state(PyObject* module) noexcept
{
    if (auto* state = static_cast<ModuleState*>(PyModule_GetState(module))) {
        Py_CLEAR(state->panic_exception);
        Py_CLEAR(state->buffer_owner_type);
        for (PyTypeObject*& type : state->classes) {
            Py_CLEAR(type);
        }
        for (PyObject*& object : state->landing_kit) {
            Py_CLEAR(object);
        }
        state->numpy_api = nullptr;
    }
    return 0;
}

void free_module_state(void* module) noexcept
{
    clear_module_state(static_cast<PyObject*>(module));
}

PyTypeObject* create_class(PyObject* module, PyType_Spec* type_spec) noexcept
{
    const char* last_dot = std::strrchr(type_spec->name, '.');
    const char* bare_name = last_dot != nullptr ? last_dot + 1 : type_spec->name;
    OwnedRef type(PyType_FromModuleAndSpec(module, type_spec, nullptr));
    OwnedRef name(type ? PyUnicode_FromString(bare_name) : nullptr);
    if (!name || PyObject_SetAttrString(type.get(), "__name__", name.get()) < 0) {
        return nullptr;
    }
    return reinterpret_cast<PyTypeObject*>(type.release());
}

#if defined(__GLIBC__) && defined(__GLIBCXX__)
bool holds_interpreter_lock() noexcept
{
    return PyGILState_Check() != 0;
}
#else
bool holds_interpreter_lock() noexcept
{
    return true;  // no thread is unwound without the lock here
}
#endif

void halt_thread() noexcept
{
    for (;;) {
        std::this_thread::sleep_for(std::chrono::hours(1));
    }
}

namespace {

// The class for internal faults; SystemError once the module has been cleared.
PyObject* panic_type(const ModuleState& state) noexcept
{
    return state.panic_exception != nullptr ? state.panic_exception : PyExc_SystemError;
}

}  // namespace

TARVO_CATCHES_THREAD_END void raise_from_cpp_exception(const ModuleState& state) noexcept
{
    try {
        throw;
    } catch (ThreadEnd&) {
        halt_thread();
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& error) {
        raise_with_text(panic_type(state), error.what());
    } catch (...) {
        PyErr_SetString(panic_type(state), "unknown internal fault");
    }
}

}  // namespace tarvo_py
