// Layout of the Python objects of the four configuration classes (each holds one record by
// value plus its access counter), their type objects, and the conversion of sub-records.
#pragma once

#include <new>

#include "support.hpp"
#include "tarvo_core/config.hpp"
#include "tarvo_core/config_fields.hpp"

namespace tarvo_py {

template <class Record>
struct RecordObject {
    PyObject_HEAD
    Record record;
    AccessCounter access;
};

template <class Record>
RecordObject<Record>* as_record_object(PyObject* object) noexcept
{
    return reinterpret_cast<RecordObject<Record>*>(object);
}

// The class of each record; set once by ensure_config_classes and kept for the life of the
// interpreter.
template <class Record>
inline PyTypeObject* record_type = nullptr;

// Creates the four classes on the first call. False with an exception set.
bool ensure_config_classes();

// A new object of `type` (a record class or a subclass of it) holding a copy of record.
template <class Record>
PyObject* new_record_object(PyTypeObject* type, const Record& record)
{
    auto allocate = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    PyObject* object = allocate(type, 0);
    if (object == nullptr) {
        return nullptr;
    }
    RecordObject<Record>* typed = as_record_object<Record>(object);
    new (&typed->record) Record(record);
    new (&typed->access) AccessCounter();
    return object;
}

// Copies the record out of an instance of its class (subclasses included) under shared read
// access. False with TypeError "... is not an instance of '<class>'" or RuntimeError set.
template <class Record>
bool copy_record_from(PyObject* value, Record& out)
{
    if (!PyObject_TypeCheck(value, record_type<Record>)) {
        raise_not_instance(value, tarvo_core::config::RecordFields<Record>::name);
        return false;
    }
    RecordObject<Record>* object = as_record_object<Record>(value);
    ReadAccess access(object->access);
    if (!access.held()) {
        return false;
    }
    out = object->record;
    return true;
}

// Sub-record fields of Config: converted by copying, read back as a new object holding a copy.
template <tarvo_core::config::ConfigRecord Record>
bool convert_value(PyObject* value, Record& out)
{
    return copy_record_from(value, out);
}

template <tarvo_core::config::ConfigRecord Record>
PyObject* new_record_of_class(const Record& record)
{
    return new_record_object(record_type<Record>, record);
}

template <tarvo_core::config::ConfigRecord Record>
PyObject* to_python(const Record& value)
{
    return new_record_of_class(value);
}

// Methods of Config (to_json, from_json), terminated by an empty entry.
PyMethodDef* config_methods();

}  // namespace tarvo_py
