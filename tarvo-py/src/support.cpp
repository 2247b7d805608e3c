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

ReadAccess::ReadAccess(AccessCounter& counter) noexcept
{
    if (counter.try_acquire_read()) {
        counter_ = &counter;
    } else {
        PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
    }
}

void ReadAccess::release() noexcept
{
    if (counter_ != nullptr) {
        counter_->release_read();
        counter_ = nullptr;
    }
}

WriteAccess::WriteAccess(AccessCounter& counter) noexcept
{
    if (counter.try_acquire_write()) {
        counter_ = &counter;
    } else {
        PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
    }
}

WriteAccess::~WriteAccess()
{
    if (counter_ != nullptr) {
        counter_->release_write();
    }
}

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
        OwnedRef note(PyUnicode_FromFormat("while processing '%s'", name));
        OwnedRef result(note ? PyObject_CallMethod(value, "add_note", "O", note.get()) : nullptr);
        if (!result) {
            PyErr_Clear();
        }
    }
    PyErr_Restore(type, value, traceback);
}

std::string take_error_text()
{
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    const OwnedRef owned_type(type);
    const OwnedRef owned_value(value);
    const OwnedRef owned_traceback(traceback);
    const OwnedRef text(value != nullptr ? PyObject_Str(value) : nullptr);
    Py_ssize_t length = 0;
    const char* utf8 = text ? PyUnicode_AsUTF8AndSize(text.get(), &length) : nullptr;
    PyErr_Clear();
    return utf8 != nullptr ? std::string(utf8, static_cast<std::size_t>(length)) : std::string();
}

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
#pragma GCC diagnostic pop

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

PyTypeObject* create_class(PyType_Spec* type_spec) noexcept
{
    const char* last_dot = std::strrchr(type_spec->name, '.');
    const char* bare_name = last_dot != nullptr ? last_dot + 1 : type_spec->name;
    OwnedRef type(PyType_FromSpec(type_spec));
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

void raise_from_cpp_exception() noexcept
{
    try {
        throw;
    } catch (ThreadEnd&) {
        halt_thread();
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& error) {
        if (PyObject* type = panic_exception_type()) {
            raise_with_text(type, error.what());
        }
    } catch (...) {
        if (PyObject* type = panic_exception_type()) {
            PyErr_SetString(type, "unknown internal fault");
        }
    }
}

}  // namespace tarvo_py
