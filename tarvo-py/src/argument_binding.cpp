// Binding of call arguments to named parameters, with the interpreter's own wording for the
// binding errors.
#include <string_view>

#include "support.hpp"

namespace tarvo_py {

namespace {

bool check_positional_count(const Signature& signature, Py_ssize_t nargs)
{
    if (nargs <= signature.count) {
        return true;
    }
    if (signature.required == signature.count) {
        PyErr_Format(PyExc_TypeError, "%s takes %zd positional arguments but %zd were given",
                     signature.function, signature.count, nargs);
    } else {
        PyErr_Format(PyExc_TypeError,
                     "%s takes from %zd to %zd positional arguments but %zd were given",
                     signature.function, signature.required, signature.count, nargs);
    }
    return false;
}

// Index of the parameter named by key (compared as UTF-8), signature.count when none is;
// -1 with an exception set when the key cannot be read.
Py_ssize_t parameter_index(const Signature& signature, PyObject* key)
{
    if (!PyUnicode_Check(key)) {
        PyErr_SetString(PyExc_TypeError, "keywords must be strings");
        return -1;
    }
    Py_ssize_t length = 0;
    const char* text = PyUnicode_AsUTF8AndSize(key, &length);
    if (text == nullptr) {
        return -1;
    }
    const std::string_view name(text, static_cast<std::size_t>(length));
    for (Py_ssize_t index = 0; index < signature.count; ++index) {
        if (name == signature.names[index]) {
            return index;
        }
    }
    return signature.count;
}

bool bind_keyword(const Signature& signature, PyObject* key, PyObject* value, PyObject** values)
{
    const Py_ssize_t index = parameter_index(signature, key);
    if (index < 0) {
        return false;
    }
    if (index == signature.count) {
        PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%U'",
                     signature.function, key);
        return false;
    }
    if (values[index] != nullptr) {
        PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%s'",
                     signature.function, signature.names[index]);
        return false;
    }
    values[index] = value;
    return true;
}

// The signatures of this module have at most one required parameter, so the message names one.
bool check_required(const Signature& signature, PyObject* const* values)
{
    for (Py_ssize_t index = 0; index < signature.required; ++index) {
        if (values[index] == nullptr) {
            PyErr_Format(PyExc_TypeError, "%s missing 1 required positional argument: '%s'",
                         signature.function, signature.names[index]);
            return false;
        }
    }
    return true;
}

}  // namespace

bool bind_tuple_and_dict(const Signature& signature, PyObject* args, PyObject* kwargs,
                         PyObject** values)
{
    const Py_ssize_t nargs = PyTuple_Size(args);
    if (nargs < 0 || !check_positional_count(signature, nargs)) {
        return false;
    }
    for (Py_ssize_t index = 0; index < nargs; ++index) {
        values[index] = PyTuple_GetItem(args, index);
    }
    if (kwargs != nullptr) {
        Py_ssize_t position = 0;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(kwargs, &position, &key, &value)) {
            if (!bind_keyword(signature, key, value, values)) {
                return false;
            }
        }
    }
    return check_required(signature, values);
}

bool bind_fast_call(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, PyObject** values)
{
    if (!check_positional_count(signature, nargs)) {
        return false;
    }
    for (Py_ssize_t index = 0; index < nargs; ++index) {
        values[index] = args[index];
    }
    const Py_ssize_t keyword_count = kwnames != nullptr ? PyTuple_Size(kwnames) : 0;
    for (Py_ssize_t index = 0; index < keyword_count; ++index) {
        if (!bind_keyword(signature, PyTuple_GetItem(kwnames, index), args[nargs + index],
                          values)) {
            return false;
        }
    }
    return check_required(signature, values);
}

}  // namespace tarvo_py
