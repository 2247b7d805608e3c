// Helpers shared by both extension modules: owned references, objects holding a C++ value,
// argument binding, exception notes, the module state both keep, and the translation of C++
// exceptions into Python exceptions at every entry point.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#if defined(__GLIBC__) && defined(__GLIBCXX__)
#include <cxxabi.h>
#endif

namespace tarvo_py {

// How the finalising interpreter ends a thread that waits for its lock: CPython before 3.14
// calls pthread_exit, which glibc carries out by unwinding the thread's stack with this
// exception. Elsewhere a thread ends without unwinding, and nothing throws it.
#if defined(__GLIBC__) && defined(__GLIBCXX__)
using ThreadEnd = abi::__forced_unwind;
// Marks a function with a `catch (ThreadEnd&)`: the unwinding carries no object, so the
// handler's reference binds to none, which UBSan would report.
#define TARVO_CATCHES_THREAD_END __attribute__((no_sanitize("null")))
#else
struct ThreadEnd {};
#define TARVO_CATCHES_THREAD_END
#endif

// Stops the calling thread for good, in place of ending it by unwinding: a noexcept frame
// would terminate the process, and unwinding further would destroy what work still running
// may use. The interpreter is finalising then, so nothing waits for the thread; CPython 3.14
// holds such a thread in the same way.
[[noreturn]] void halt_thread() noexcept;

// Whether this thread holds the interpreter lock. Asked only where a ThreadEnd may unwind.
bool holds_interpreter_lock() noexcept;

// Drops the reference where this thread holds the interpreter lock: a thread that the
// finalising interpreter ends (see ThreadEnd) unwinds without the lock, and then leaves it.
struct DropReference {
    void operator()(PyObject* object) const noexcept
    {
        if (holds_interpreter_lock()) {
            Py_DECREF(object);
        }
    }
};

// Owns one strong reference (or none) and drops it on destruction.
using OwnedRef = std::unique_ptr<PyObject, DropReference>;

// A Python object holding one C++ value. Every entry point holds the interpreter lock and runs
// no Python code while it reads or writes the value, so no other guard is needed.
template <class Value>
struct ValueObject {
    PyObject_HEAD
    Value value;
};

template <class Value>
ValueObject<Value>* as_value_object(PyObject* object) noexcept
{
    return reinterpret_cast<ValueObject<Value>*>(object);
}

// A new object of `type` (a class whose objects are ValueObject<Value>, or a subclass of one)
// holding `value`. Null with an exception set.
template <class Value>
PyObject* new_value_object(PyTypeObject* type, Value value)
{
    auto allocate = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    PyObject* object = allocate(type, 0);
    if (object != nullptr) {
        new (&as_value_object<Value>(object)->value) Value(std::move(value));
    }
    return object;
}

// The tp_dealloc of a class of ValueObject<Value>: destroying the value cannot throw, and the
// type reference dropped is the one every heap-type instance holds.
template <class Value>
void value_object_dealloc(PyObject* self) noexcept
{
    PyTypeObject* type = Py_TYPE(self);
    as_value_object<Value>(self)->value.~Value();
    auto free_object = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_object(self);
    Py_DECREF(type);
}

// Parameters of a function or constructor, all positional-or-keyword; the first `required`
// ones must be given. `function` is the name used in messages, e.g. "Config.from_json()".
struct Signature {
    const char* function;
    const char* const* names;
    Py_ssize_t count;
    Py_ssize_t required;
};

// Binds a tuple of positional arguments and an optional keyword dict (tp_new style) into
// values[0 .. count), which the caller zero-fills: borrowed references, nullptr where
// omitted. False with TypeError set.
bool bind_tuple_and_dict(const Signature& signature, PyObject* args, PyObject* kwargs,
                         PyObject** values);

// The same for the fast-call convention: nargs positional values, then one value per name in
// the kwnames tuple (which may be null).
bool bind_fast_call(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, PyObject** values);

// Sets an exception of the given type whose message is text (UTF-8, bad bytes replaced).
void raise_with_text(PyObject* type, std::string_view text) noexcept;

// Adds the note "while processing '<name>'" to the exception being raised; a failure of
// add_note itself is dropped and the original exception kept.
void add_argument_note(const char* name) noexcept;

// Clears the pending exception and returns its text (str of the exception, "" when there is
// none or it cannot be read); for internal-fault messages that name their cause.
std::string take_error_text();

// Clears the exception being raised and returns it as an object (a new reference, its
// traceback attached); null when none is set.
PyObject* take_raised_exception() noexcept;

// TypeError "'<qualname>' object is not an instance of '<expected>'", or
// "'None' is not an instance of '<expected>'".
void raise_not_instance(PyObject* object, const char* expected) noexcept;

// TypeError "<requirement>, not <qualname of the value's type>", for example
// "workers must be an int or None, not str".
void raise_wrong_type(const std::string& requirement, PyObject* value) noexcept;

// The state of either extension module: the references it owns, which its GC slots visit
// and clear, and NumPy's table. The engine shares _tarvo's exception and classes.
struct ModuleState {
    PyObject* panic_exception;             // tarvo._tarvo.PanicException
    PyTypeObject* buffer_owner_type;       // _tarvo's: owns each writeable array's buffer
    std::array<PyTypeObject*, 5> classes;  // _tarvo's exported classes (tarvo_state.hpp)
    // The engine's, imported with its first landing (null until then, and in _tarvo): the
    // package's classes Landing, Trial and SolverFigures, and numpy.exp (planned_landing.hpp).
    std::array<PyObject*, 4> landing_kit;
    void** numpy_api;  // NumPy's C-API table, loaded on first use
};

// The definition of the module this code is linked into (each module defines its own); its
// m_size is sizeof(ModuleState) and its GC slots are the three functions below.
extern PyModuleDef module_def;

int traverse_module_state(PyObject* module, visitproc visit, void* arg) noexcept;
int clear_module_state(PyObject* module) noexcept;
void free_module_state(void* module) noexcept;

// The state of one of our modules; null with SystemError set once the module has been
// cleared (at interpreter exit).
ModuleState* module_state(PyObject* module) noexcept;

// The state of the module that defined `type`, or the nearest base of it that this module
// defined (a Python subclass has no module of its own). Null with an exception set when there
// is none or it has been cleared.
ModuleState* module_state(PyTypeObject* type) noexcept;

// Creates a class of `module` from type_spec, whose name must be "tarvo._tarvo.<Name>" with
// static storage: the dotted name gives the class its __module__ (a bare name leaves it
// without one and draws a DeprecationWarning), and the class is then renamed to the bare
// <Name> that messages show. Null with an exception set on failure.
PyTypeObject* create_class(PyObject* module, PyType_Spec* type_spec) noexcept;

// Turns the C++ exception being handled into a Python exception: std::bad_alloc becomes
// MemoryError, anything else the module's PanicException with the exception's text; a
// ThreadEnd halts the thread. Call only from inside a catch block.
TARVO_CATCHES_THREAD_END void raise_from_cpp_exception(const ModuleState& state) noexcept;

// Runs body and returns its result; a C++ exception becomes a Python exception and `failure`
// is returned. Every entry point from Python goes through here.
template <class Result, class Body>
Result guarded(const ModuleState& state, Result failure, Body&& body) noexcept
{
    try {
        return std::forward<Body>(body)();
    } catch (...) {
        raise_from_cpp_exception(state);
        return failure;
    }
}

// An entry point of a module function (`owner` is the module) or of a class (`owner` is the
// class of self, or the class itself): body(state) runs guarded; `failure` is returned at
// once, with the exception set, when there is no state.
template <class Result, class Owner, class Body>
Result guarded_in(Owner* owner, Result failure, Body&& body) noexcept
{
    ModuleState* state = module_state(owner);
    if (state == nullptr) {
        return failure;
    }
    return guarded(*state, failure, [&]() -> Result { return body(*state); });
}

// A function pointer as the void* of a type slot or method table.
template <class Function>
void* slot_function(Function* function) noexcept
{
    return reinterpret_cast<void*>(function);
}

}  // namespace tarvo_py
