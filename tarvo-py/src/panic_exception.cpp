// The panic exception of _tarvo, created here; _engine raises the same class, taken from
// _tarvo when it is loaded.
#include "support.hpp"

namespace tarvo_py {

namespace {

PyObject* panic_type = nullptr;  // created once, never released

}  // namespace

PyObject* panic_exception_type() noexcept
{
    if (panic_type == nullptr) {
        panic_type = PyErr_NewExceptionWithDoc(
            "tarvo._tarvo.PanicException",
            "Raised when a broken internal invariant abandons a call.", PyExc_BaseException,
            nullptr);
    }
    return panic_type;
}

}  // namespace tarvo_py
