#include "numpy_arrays.hpp"

#include <cstddef>
#include <cstdint>
#include <utility>

#include "tarvo_core/fault.hpp"

namespace tarvo_py {

namespace {

using tarvo_core::InternalFault;
using tarvo_core::config::Vec3;

using npy_intp = std::intptr_t;
using Buffer = std::vector<double>;

// Positions in NumPy's C-API table (numpy/_core/code_generators/numpy_api.py, the same in
// NumPy 1.x and 2.x): multiarray_types_api 'PyArray_Type' (2,), multiarray_funcs_api
// 'PyArray_DescrFromType' (45,), 'PyArray_NewFromDescr' (94, StealRef(2)) and
// 'PyArray_SetBaseObject' (282, StealRef(2)).
constexpr int array_type_slot = 2;
constexpr int descr_from_type_slot = 45;
constexpr int new_from_descr_slot = 94;
constexpr int set_base_object_slot = 282;

constexpr int npy_double = 12;             // NPY_DOUBLE
constexpr int npy_array_writeable = 0x0400;  // NPY_ARRAY_WRITEABLE

using DescrFromType = PyObject* (*)(int type_number);
using NewFromDescr = PyObject* (*)(PyTypeObject* subtype, PyObject* descr, int nd,
                                   const npy_intp* dims, const npy_intp* strides, void* data,
                                   int flags, PyObject* source);
using SetBaseObject = int (*)(PyObject* array, PyObject* base);

// The table, imported on first use from the capsule (NumPy 2 module path first, then NumPy 1).
void** array_api(ModuleState& state)
{
    if (state.numpy_api != nullptr) {
        return state.numpy_api;
    }
    OwnedRef module(PyImport_ImportModule("numpy._core.multiarray"));
    if (!module) {
        PyErr_Clear();
        module.reset(PyImport_ImportModule("numpy.core.multiarray"));
    }
    OwnedRef capsule(module ? PyObject_GetAttrString(module.get(), "_ARRAY_API") : nullptr);
    void* table = capsule ? PyCapsule_GetPointer(capsule.get(), nullptr) : nullptr;
    if (table == nullptr) {
        throw InternalFault("Failed to access NumPy array API capsule: " + take_error_text());
    }
    // The capsule is kept alive on purpose: the table must stay valid for the process.
    capsule.release();
    state.numpy_api = static_cast<void**>(table);
    return state.numpy_api;
}

// A new float64 array over `data` whose base is `base` (whose reference it takes, also when
// it fails); writeable or read-only by `flags`.
PyObject* new_array(ModuleState& state, int nd, const npy_intp* dims, const npy_intp* strides,
                    void* data, int flags, PyObject* base)
{
    OwnedRef owner(base);
    void** api = array_api(state);
    auto descr_from_type = reinterpret_cast<DescrFromType>(api[descr_from_type_slot]);
    auto new_from_descr = reinterpret_cast<NewFromDescr>(api[new_from_descr_slot]);
    auto set_base_object = reinterpret_cast<SetBaseObject>(api[set_base_object_slot]);
    auto* array_type = static_cast<PyTypeObject*>(api[array_type_slot]);

    PyObject* descr = descr_from_type(npy_double);
    // PyArray_NewFromDescr takes the descriptor's reference.
    OwnedRef array(descr != nullptr ? new_from_descr(array_type, descr, nd, dims, strides, data,
                                                     flags, nullptr)
                                    : nullptr);
    // PyArray_SetBaseObject takes the owner's reference, also when it fails.
    if (!array || set_base_object(array.get(), owner.release()) < 0) {
        throw InternalFault("Failed to create a NumPy array: " + take_error_text());
    }
    return array.release();
}

// Wraps `buffer` in a writeable array whose base is a new buffer owner holding it.
PyObject* wrap_buffer(ModuleState& state, Buffer buffer, int nd, const npy_intp* dims,
                      const npy_intp* strides)
{
    array_api(state);  // NumPy first: its absence is the fault to report
    PyObject* owner = new_value_object(state.buffer_owner_type, std::move(buffer));
    if (owner == nullptr) {
        throw InternalFault("Failed to create slice container: " + take_error_text());
    }
    Buffer& held = as_value_object<Buffer>(owner)->value;
    // An empty array still needs a data pointer, or NumPy would allocate (and own) one.
    static double empty_data = 0.0;
    void* data = held.empty() ? &empty_data : held.data();
    return new_array(state, nd, dims, strides, data, npy_array_writeable, owner);
}

// The read-only array over a copy of `count` doubles at `data` (as bytes, so that the
// doubles of a vector of Vec3 are read as one run); `columns` as in frozen_array.
PyObject* frozen_copy(ModuleState& state, const void* data, std::size_t count, int columns)
{
    array_api(state);
    PyObject* bytes = PyBytes_FromStringAndSize(static_cast<const char*>(data),
                                                static_cast<Py_ssize_t>(count * sizeof(double)));
    if (bytes == nullptr) {
        throw InternalFault("Failed to copy an array's values: " + take_error_text());
    }
    char* copy = PyBytes_AsString(bytes);
    const npy_intp length = static_cast<npy_intp>(count);
    const npy_intp step = sizeof(double);
    PyObject* flat = new_array(state, 1, &length, &step, copy, 0, bytes);
    if (columns <= 1) {
        return new_array(state, 1, &length, &step, copy, 0, flat);
    }
    const npy_intp dims[2] = {length / columns, columns};
    const npy_intp strides[2] = {columns * step, step};
    return new_array(state, 2, dims, strides, copy, 0, flat);
}

}  // namespace

PyTypeObject* create_buffer_owner_type(PyObject* module) noexcept
{
    PyType_Slot slots[] = {
        {Py_tp_dealloc, slot_function(value_object_dealloc<Buffer>)},
        {0, nullptr},
    };
    PyType_Spec type_spec{"tarvo._tarvo.ArrayBuffer", static_cast<int>(sizeof(ValueObject<Buffer>)),
                          0, Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION, slots};
    return reinterpret_cast<PyTypeObject*>(PyType_FromModuleAndSpec(module, &type_spec, nullptr));
}

PyObject* to_array(ModuleState& state, const std::vector<double>& values)
{
    const npy_intp dims[1] = {static_cast<npy_intp>(values.size())};
    const npy_intp strides[1] = {8};
    return wrap_buffer(state, values, 1, dims, strides);
}

PyObject* to_array(ModuleState& state, const std::vector<Vec3>& vectors)
{
    Buffer buffer;
    buffer.reserve(vectors.size() * 3);
    for (const Vec3& vector : vectors) {
        buffer.insert(buffer.end(), vector.begin(), vector.end());
    }
    const npy_intp rows = static_cast<npy_intp>(vectors.size());
    const npy_intp dims[2] = {rows, 3};
    const npy_intp strides[2] = {rows > 0 ? 24 : 0, rows > 0 ? 8 : 0};
    return wrap_buffer(state, std::move(buffer), 2, dims, strides);
}

PyObject* frozen_array(ModuleState& state, std::span<const double> values, int columns)
{
    return frozen_copy(state, values.data(), values.size(), columns);
}

PyObject* frozen_array(ModuleState& state, const std::vector<Vec3>& vectors)
{
    static_assert(sizeof(Vec3) == 3 * sizeof(double), "a vector is three packed doubles");
    return frozen_copy(state, vectors.data(), vectors.size() * 3, 3);
}

}  // namespace tarvo_py
