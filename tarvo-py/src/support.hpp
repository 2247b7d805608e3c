// Helpers shared by both extension modules: owned references, guards over the access
// counter, argument binding, exception notes, and the translation of C++ exceptions into
// Python exceptions at every entry point.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string>
#include <string_view>
#include <utility>

#if defined(__GLIBC__) && defined(__GLIBCXX__)
#include <cxxabi.h>
#endif

#include "access_counter.hpp"

namespace tarvo_py {

// How the finalising interpreter ends a thread that waits for its lock: CPython before 3.14
// calls pthread_exit, which glibc carries out by unwinding the thread's stack with this
// exception. Elsewhere a thread ends without unwinding, and nothing throws it.
#if defined(__GLIBC__) && defined(__GLIBCXX__)
using ThreadEnd = abi::__forced_unwind;
#else
struct ThreadEnd {};
#endif

// Stops the calling thread for good, in place of ending it by unwinding: a noexcept frame
// would terminate the process, and unwinding further would destroy what work still running
// may use. The interpreter is finalising then, so nothing waits for the thread; CPython 3.14
// holds such a thread in the same way.
[[noreturn]] void halt_thread() noexcept;

// Whether this thread holds the interpreter lock. Asked only where a ThreadEnd may unwind.
bool holds_interpreter_lock() noexcept;

// Owns one strong reference (or none) and drops it on destruction, where this thread holds
// the interpreter lock: a thread that the finalising interpreter ends (see ThreadEnd) unwinds
// without the lock, and then leaves the reference.
class OwnedRef {
public:
    OwnedRef() noexcept = default;
    explicit OwnedRef(PyObject* object) noexcept : object_(object) {}
    OwnedRef(const OwnedRef&) = delete;
    OwnedRef& operator=(const OwnedRef&) = delete;
    OwnedRef(OwnedRef&& other) noexcept : object_(other.release()) {}
    OwnedRef& operator=(OwnedRef&& other) noexcept
    {
        reset(other.release());
        return *this;
    }
    ~OwnedRef()
    {
        if (object_ != nullptr && holds_interpreter_lock()) {
            Py_DECREF(object_);
        }
    }

    static OwnedRef borrowed(PyObject* object) noexcept
    {
        Py_XINCREF(object);
        return OwnedRef(object);
    }

    PyObject* get() const noexcept { return object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }

    PyObject* release() noexcept { return std::exchange(object_, nullptr); }
    void reset(PyObject* object = nullptr) noexcept { Py_XDECREF(std::exchange(object_, object)); }

private:
    PyObject* object_ = nullptr;
};

// Shared read access for one scope; when it cannot be had, RuntimeError
// "Already mutably borrowed" is set and held() is false.
class ReadAccess {
public:
    explicit ReadAccess(AccessCounter& counter) noexcept;
    ReadAccess(const ReadAccess&) = delete;
    ReadAccess& operator=(const ReadAccess&) = delete;
    ~ReadAccess() { release(); }

    bool held() const noexcept { return counter_ != nullptr; }
    void release() noexcept;

private:
    AccessCounter* counter_ = nullptr;
};

// Write access for one scope; when it cannot be had, RuntimeError "Already borrowed" is set
// and held() is false.
class WriteAccess {
public:
    explicit WriteAccess(AccessCounter& counter) noexcept;
    WriteAccess(const WriteAccess&) = delete;
    WriteAccess& operator=(const WriteAccess&) = delete;
    ~WriteAccess();

    bool held() const noexcept { return counter_ != nullptr; }

private:
    AccessCounter* counter_ = nullptr;
};

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

// Creates a class from type_spec, whose name must be "tarvo._tarvo.<Name>" with static storage: the
// dotted name gives the class its __module__ (a bare name leaves it without one and draws a
// DeprecationWarning), and the class is then renamed to the bare <Name> that messages show.
// Null with an exception set on failure.
PyTypeObject* create_class(PyType_Spec* type_spec) noexcept;

// The exception for internal faults, tarvo._tarvo.PanicException (derived from
// BaseException), kept for the life of the interpreter. Each extension module defines it:
// _tarvo creates the class on the first call, _engine returns the one it took from _tarvo.
// Null with an exception set on failure.
PyObject* panic_exception_type() noexcept;

// Turns the C++ exception being handled into a Python exception: std::bad_alloc becomes
// MemoryError, anything else the panic exception with the exception's text; a ThreadEnd
// halts the thread. Call only from inside a catch block.
void raise_from_cpp_exception() noexcept;

// Runs body and returns its result; a C++ exception becomes a Python exception and `failure`
// is returned. Every entry point from Python goes through here.
template <class Result, class Body>
Result guarded(Result failure, Body&& body) noexcept
{
    try {
        return std::forward<Body>(body)();
    } catch (...) {
        raise_from_cpp_exception();
        return failure;
    }
}

// A function pointer as the void* of a type slot or method table.
template <class Function>
void* slot_function(Function* function) noexcept
{
    return reinterpret_cast<void*>(function);
}

}  // namespace tarvo_py
