#include "portable_config.hpp"

#include <cstdint>
#include <optional>
#include <string>

#include "tarvo_core/config_fields.hpp"

namespace tarvo_py {

namespace {

using tarvo_core::config::Config;
using tarvo_core::config::ConfigRecord;
using tarvo_core::config::field_count;
using tarvo_core::config::for_each_field;
using tarvo_core::config::Vec3;

static_assert(portable_length == field_count<tarvo_core::config::Spacecraft> +
                                     field_count<tarvo_core::config::Environment> +
                                     field_count<tarvo_core::config::Solver>,
              "the portable form holds every field of the three records");

// Reads the values of a portable tuple in order; a failure names the field by its position
// and its path in the configuration ("field 6 'spacecraft.initial_position'"). The order is
// that of the core's field tables, which tarvo._portable follows too.
class PortableReader {
public:
    explicit PortableReader(PyObject* tuple) noexcept : tuple_(tuple) {}

    // The record the following fields belong to.
    void enter(const char* record) noexcept { record_ = record; }

    template <class Value>
    bool read(const char* name, Value& out)
    {
        name_ = name;
        PyObject* item = PyTuple_GetItem(tuple_, index_);  // borrowed
        const bool converted = item != nullptr && convert(item, out);
        ++index_;
        return converted;
    }

private:
    bool convert(PyObject* item, double& out)
    {
        if (!PyFloat_Check(item)) {
            return wrong_kind("must be a float", item);
        }
        out = PyFloat_AsDouble(item);  // a float's own value, never a conversion
        return true;
    }

    bool convert(PyObject* item, std::optional<double>& out)
    {
        if (item == Py_None) {
            out.reset();
            return true;
        }
        if (!PyFloat_Check(item)) {
            return wrong_kind("must be None or a float", item);
        }
        out = PyFloat_AsDouble(item);
        return true;
    }

    bool convert(PyObject* item, Vec3& out)
    {
        if (!PyTuple_Check(item) && !PyList_Check(item)) {
            return wrong_kind("must be a tuple of 3 floats", item);
        }
        const Py_ssize_t length = PySequence_Size(item);
        if (length < 0) {
            return false;
        }
        if (length != 3) {
            PyErr_Format(PyExc_ValueError, "%s must hold 3 floats, got %zd", field().c_str(),
                         length);
            return false;
        }
        for (Py_ssize_t component = 0; component < 3; ++component) {
            const OwnedRef value(PySequence_GetItem(item, component));
            if (!value) {
                return false;
            }
            if (!PyFloat_Check(value.get())) {
                return wrong_component(component, value.get());
            }
            out[static_cast<std::size_t>(component)] = PyFloat_AsDouble(value.get());
        }
        return true;
    }

    bool convert(PyObject* item, std::uint64_t& out)
    {
        if (!PyLong_Check(item) || PyBool_Check(item)) {
            return wrong_kind("must be an int", item);
        }
        const unsigned long long value = PyLong_AsUnsignedLongLong(item);
        if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
            if (!PyErr_ExceptionMatches(PyExc_OverflowError)) {
                return false;
            }
            PyErr_Clear();
            PyErr_Format(PyExc_OverflowError, "%s must be from 0 to 2**64 - 1, got %R",
                         field().c_str(), item);
            return false;
        }
        out = value;
        return true;
    }

    // "portable configuration field I 'record.name'", which starts every message.
    std::string field() const
    {
        return "portable configuration field " + std::to_string(index_) + " '" + record_ + "." +
               name_ + "'";
    }

    bool wrong_kind(const char* requirement, PyObject* item)
    {
        raise_wrong_type(field() + " " + requirement, item);
        return false;
    }

    bool wrong_component(Py_ssize_t component, PyObject* value)
    {
        raise_wrong_type(field() + " component " + std::to_string(component) + " must be a float",
                         value);
        return false;
    }

    PyObject* tuple_;
    Py_ssize_t index_ = 0;
    const char* record_ = "";
    const char* name_ = "";
};

// Reads the fields of one record in the order of its field table.
template <ConfigRecord Record>
bool read_record(PortableReader& reader, Record& record)
{
    bool read = true;
    for_each_field<Record>([&](const auto& field) {
        read = read && reader.read(field.name, record.*field.member);
    });
    return read;
}

// The records of a configuration in the order of Config's field table; every field of each.
bool read_config(PortableReader& reader, Config& config)
{
    bool read = true;
    for_each_field<Config>([&](const auto& field) {
        reader.enter(field.name);
        read = read && read_record(reader, config.*field.member);
    });
    return read;
}

bool check_shape(PyObject* portable)
{
    if (!PyTuple_Check(portable)) {
        raise_wrong_type("a portable configuration is a tuple of " +
                             std::to_string(portable_length) + " values",
                         portable);
        return false;
    }
    const Py_ssize_t length = PyTuple_Size(portable);
    if (length != portable_length) {
        if (length >= 0) {
            PyErr_Format(PyExc_ValueError,
                         "a portable configuration is a tuple of %zd values, got %zd",
                         portable_length, length);
        }
        return false;
    }
    return true;
}

}  // namespace

bool config_from_portable(PyObject* portable, Config& out)
{
    if (!check_shape(portable)) {
        return false;
    }
    Config config;
    PortableReader reader(portable);
    if (!read_config(reader, config)) {
        return false;
    }
    out = config;
    return true;
}

}  // namespace tarvo_py
