#include "field_conversion.hpp"

namespace tarvo_py {

using tarvo_core::config::Vec3;

bool convert_value(PyObject* value, double& out)
{
    // The interpreter's float conversion: __float__, then __index__.
    const double converted = PyFloat_AsDouble(value);
    if (converted == -1.0 && PyErr_Occurred()) {
        return false;
    }
    out = converted;
    return true;
}

bool convert_value(PyObject* value, Vec3& out)
{
    if (!PySequence_Check(value)) {
        raise_not_instance(value, "Sequence");
        return false;
    }
    const Py_ssize_t length = PySequence_Size(value);
    if (length < 0) {
        return false;
    }
    if (length != 3) {
        PyErr_Format(PyExc_ValueError, "expected a sequence of length 3 (got %zd)", length);
        return false;
    }
    Vec3 converted{};
    for (Py_ssize_t index = 0; index < 3; ++index) {
        OwnedRef item(PySequence_GetItem(value, index));
        if (!item || !convert_value(item.get(), converted[static_cast<std::size_t>(index)])) {
            return false;
        }
    }
    out = converted;
    return true;
}

bool convert_value(PyObject* value, std::uint64_t& out)
{
    OwnedRef index(PyNumber_Index(value));
    if (!index) {
        return false;
    }
    const unsigned long long converted = PyLong_AsUnsignedLongLong(index.get());
    if (converted == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
        return false;
    }
    out = converted;
    return true;
}

bool convert_value(PyObject* value, std::optional<double>& out)
{
    if (value == Py_None) {
        out.reset();
        return true;
    }
    double converted = 0.0;
    if (!convert_value(value, converted)) {
        return false;
    }
    out = converted;
    return true;
}

PyObject* to_python(double value)
{
    return PyFloat_FromDouble(value);
}

PyObject* to_python(const Vec3& value)
{
    OwnedRef list(PyList_New(3));
    if (!list) {
        return nullptr;
    }
    for (std::size_t index = 0; index < 3; ++index) {
        PyObject* component = PyFloat_FromDouble(value[index]);
        // PyList_SetItem takes the component's reference, also when it fails.
        if (component == nullptr ||
            PyList_SetItem(list.get(), static_cast<Py_ssize_t>(index), component) < 0) {
            return nullptr;
        }
    }
    return list.release();
}

PyObject* to_python(std::uint64_t value)
{
    return PyLong_FromUnsignedLongLong(value);
}

PyObject* to_python(const std::optional<double>& value)
{
    if (!value) {
        Py_INCREF(Py_None);
        return Py_None;
    }
    return PyFloat_FromDouble(*value);
}

}  // namespace tarvo_py
