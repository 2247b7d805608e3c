#include "numpy_arrays.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>

#include "tarvo_core/fault.hpp"

namespace tarvo_py {

namespace {

using tarvo_core::InternalFault;
using tarvo_core::config::Vec3;

using npy_intp = std::intptr_t;

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

void** api_table = nullptr;  // loaded on first use, valid while NumPy stays loaded (always)

// Imports the capsule (NumPy 2 module path first, then NumPy 1) and returns its table.
void** array_api()
{
    if (api_table != nullptr) {
        return api_table;
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
    api_table = static_cast<void**>(table);
    return api_table;
}

// The Python object that owns an array's buffer and frees it when it is collected.
struct BufferOwner {
    PyObject_HEAD
    double* data;
    Py_ssize_t length;
    Py_ssize_t capacity;
    void (*release)(double* data, Py_ssize_t capacity) noexcept;
};

void release_buffer(double* data, Py_ssize_t) noexcept
{
    delete[] data;
}

void buffer_owner_dealloc(PyObject* self) noexcept
{
    PyTypeObject* type = Py_TYPE(self);
    auto* owner = reinterpret_cast<BufferOwner*>(self);
    if (owner->release != nullptr) {
        owner->release(owner->data, owner->capacity);
    }
    auto free_object = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_object(self);
    Py_DECREF(type);
}

PyTypeObject* buffer_owner_type = nullptr;  // created on first use, never added to the module

PyTypeObject* ensure_buffer_owner_type()
{
    if (buffer_owner_type == nullptr) {
        PyType_Slot slots[] = {
            {Py_tp_dealloc, slot_function(buffer_owner_dealloc)},
            {0, nullptr},
        };
        PyType_Spec type_spec{"tarvo._tarvo.ArrayBuffer", static_cast<int>(sizeof(BufferOwner)), 0,
                         Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION, slots};
        buffer_owner_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&type_spec));
    }
    return buffer_owner_type;
}

// Hands the buffer to a new owner object; the buffer is freed here when that fails.
OwnedRef new_buffer_owner(std::unique_ptr<double[]> buffer, Py_ssize_t length)
{
    PyTypeObject* type = ensure_buffer_owner_type();
    auto allocate =
        type != nullptr ? reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc)) : nullptr;
    OwnedRef owner(allocate != nullptr ? allocate(type, 0) : nullptr);
    if (!owner) {
        throw InternalFault("Failed to create slice container: " + take_error_text());
    }
    auto* typed = reinterpret_cast<BufferOwner*>(owner.get());
    typed->data = buffer.release();
    typed->length = length;
    typed->capacity = length;
    typed->release = release_buffer;
    return owner;
}

std::unique_ptr<double[]> allocate_buffer(std::size_t length)
{
    // Array sizes in bytes must fit NumPy's signed index type.
    if (length > static_cast<std::size_t>(std::numeric_limits<npy_intp>::max()) / sizeof(double)) {
        throw std::bad_alloc();
    }
    return length == 0 ? nullptr : std::unique_ptr<double[]>(new double[length]);
}

// Wraps the owned buffer in a writeable float64 array whose base is the owner.
PyObject* wrap_buffer(std::unique_ptr<double[]> buffer, std::size_t length, int nd,
                      const npy_intp* dims, const npy_intp* strides)
{
    void** api = array_api();
    // An empty array still needs a data pointer, or NumPy would allocate (and own) one.
    static double empty_data = 0.0;
    void* data = buffer ? static_cast<void*>(buffer.get()) : static_cast<void*>(&empty_data);
    OwnedRef owner = new_buffer_owner(std::move(buffer), static_cast<Py_ssize_t>(length));

    auto descr_from_type = reinterpret_cast<DescrFromType>(api[descr_from_type_slot]);
    auto new_from_descr = reinterpret_cast<NewFromDescr>(api[new_from_descr_slot]);
    auto set_base_object = reinterpret_cast<SetBaseObject>(api[set_base_object_slot]);
    auto* array_type = static_cast<PyTypeObject*>(api[array_type_slot]);

    PyObject* descr = descr_from_type(npy_double);
    // PyArray_NewFromDescr takes the descriptor's reference.
    OwnedRef array(descr != nullptr ? new_from_descr(array_type, descr, nd, dims, strides, data,
                                                     npy_array_writeable, nullptr)
                                    : nullptr);
    // PyArray_SetBaseObject takes the owner's reference, also when it fails.
    if (!array || set_base_object(array.get(), owner.release()) < 0) {
        throw InternalFault("Failed to create a NumPy array: " + take_error_text());
    }
    return array.release();
}

}  // namespace

PyObject* nx3(const std::vector<Vec3>& vectors)
{
    const std::size_t rows = vectors.size();
    if (rows > std::numeric_limits<std::size_t>::max() / 3) {
        throw std::bad_alloc();
    }
    const std::size_t length = rows * 3;
    std::unique_ptr<double[]> buffer = allocate_buffer(length);
    std::size_t written = 0;
    for (const Vec3& vector : vectors) {
        std::copy(vector.begin(), vector.end(), buffer.get() + written);
        written += vector.size();
    }
    if (written != length) {
        throw InternalFault("n*3");
    }
    const npy_intp dims[2] = {static_cast<npy_intp>(rows), 3};
    const npy_intp strides[2] = {rows > 0 ? 24 : 0, rows > 0 ? 8 : 0};
    return wrap_buffer(std::move(buffer), length, 2, dims, strides);
}

PyObject* vec1(const std::vector<double>& values)
{
    std::unique_ptr<double[]> buffer = allocate_buffer(values.size());
    std::copy(values.begin(), values.end(), buffer.get());
    const npy_intp dims[1] = {static_cast<npy_intp>(values.size())};
    const npy_intp strides[1] = {8};
    return wrap_buffer(std::move(buffer), values.size(), 1, dims, strides);
}

}  // namespace tarvo_py
