#include "portable_config.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace tarvo_py {

namespace {

using tarvo_core::config::Config;
using tarvo_core::config::Environment;
using tarvo_core::config::Solver;
using tarvo_core::config::Spacecraft;
using tarvo_core::config::Vec3;

// Reads the values of a portable tuple in order; a failure names the field by its position
// and its path in the configuration ("field 6 'spacecraft.initial_position'").
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

bool read_spacecraft(PortableReader& reader, Spacecraft& craft)
{
    reader.enter("spacecraft");
    return reader.read("wet_mass", craft.wet_mass) && reader.read("fuel", craft.fuel) &&
           reader.read("real_max_thrust", craft.real_max_thrust) &&
           reader.read("min_thrust_pct", craft.min_thrust_pct) &&
           reader.read("max_thrust_pct", craft.max_thrust_pct) &&
           reader.read("max_velocity", craft.max_velocity) &&
           reader.read("initial_position", craft.initial_position) &&
           reader.read("initial_velocity", craft.initial_velocity) &&
           reader.read("target_velocity", craft.target_velocity) &&
           reader.read("target_position", craft.target_position) &&
           reader.read("fuel_consumption", craft.fuel_consumption);
}

bool read_environment(PortableReader& reader, Environment& environment)
{
    reader.enter("environment");
    return reader.read("gravity", environment.gravity) &&
           reader.read("glide_slope_angle_deg", environment.glide_slope_angle_deg) &&
           reader.read("max_angle_deg", environment.max_angle_deg);
}

bool read_solver(PortableReader& reader, Solver& solver)
{
    reader.enter("solver");
    return reader.read("n", solver.n) && reader.read("time_of_flight", solver.time_of_flight) &&
           reader.read("tof_min", solver.tof_min) && reader.read("tof_max", solver.tof_max);
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
    if (!read_spacecraft(reader, config.spacecraft) ||
        !read_environment(reader, config.environment) || !read_solver(reader, config.solver)) {
        return false;
    }
    out = config;
    return true;
}

}  // namespace tarvo_py
