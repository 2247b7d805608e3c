// The Python classes Spacecraft, Environment, Solver and Config: constructors with keyword
// defaults and one read-write property per record field, all built from the core's field table
// of each record.
#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "field_conversion.hpp"
#include "tarvo_core/config_fields.hpp"
#include "tarvo_state.hpp"

namespace tarvo_py {

namespace {

using tarvo_core::config::Config;
using tarvo_core::config::ConfigRecord;
using tarvo_core::config::Environment;
using tarvo_core::config::field_at;
using tarvo_core::config::field_count;
using tarvo_core::config::field_names;
using tarvo_core::config::RecordFields;
using tarvo_core::config::Solver;
using tarvo_core::config::Spacecraft;

template <ConfigRecord Record, std::size_t Index>
constexpr auto member = field_at<Record, Index>.member;

template <ConfigRecord Record, std::size_t Index>
using FieldType = std::remove_cvref_t<decltype(std::declval<Record&>().*member<Record, Index>)>;

// A sub-record is converted by copying it out of an instance of its class, and read back as a
// new object holding a copy.
template <ConfigRecord Record>
bool convert_field(const ModuleState& state, PyObject* value, Record& out)
{
    if (!PyObject_TypeCheck(value, class_of<Record>(state))) {
        raise_not_instance(value, RecordFields<Record>::name);
        return false;
    }
    out = as_value_object<Record>(value)->value;
    return true;
}

template <class Value>
bool convert_field(const ModuleState&, PyObject* value, Value& out)
{
    return convert_value(value, out);
}

template <ConfigRecord Record>
PyObject* field_to_python(const ModuleState& state, const Record& value)
{
    return new_value_object(class_of<Record>(state), value);
}

template <class Value>
PyObject* field_to_python(const ModuleState&, const Value& value)
{
    return to_python(value);
}

template <ConfigRecord Record, std::size_t Index>
PyObject* get_field(PyObject* self, void*) noexcept
{
    return guarded_in<PyObject*>(Py_TYPE(self), nullptr, [self](const ModuleState& state) {
        return field_to_python(state, as_value_object<Record>(self)->value.*member<Record, Index>);
    });
}

// Converts into a copy first: a failed conversion leaves the object unchanged, and a
// conversion that runs Python code (__float__, __index__) may itself use the object. The
// closure is the property name for the note.
template <ConfigRecord Record, std::size_t Index>
int set_field(PyObject* self, PyObject* value, void* closure) noexcept
{
    return guarded_in<int>(Py_TYPE(self), -1, [=](const ModuleState& state) -> int {
        if (value == nullptr) {
            PyErr_SetString(PyExc_AttributeError, "property has no deleter");
            return -1;
        }
        FieldType<Record, Index> converted{};
        if (!convert_field(state, value, converted)) {
            add_argument_note(static_cast<const char*>(closure));
            return -1;
        }
        as_value_object<Record>(self)->value.*member<Record, Index> = converted;
        return 0;
    });
}

// The documented properties: only the time-of-flight fields of Solver carry a doc string.
struct PropertyDoc {
    std::string_view record;
    std::string_view field;
    const char* doc;
};

constexpr PropertyDoc property_docs[] = {
    {"Solver", "time_of_flight",
     "Discretization horizon. `None` \u21d2 `solve` searches for the fuel-optimal\n"
     "time-of-flight ([`tarvo_core::search`])."},
    {"Solver", "tof_min", "Lower bound for the time-of-flight search. `None` \u21d2 auto-bracket."},
    {"Solver", "tof_max", "Upper bound for the time-of-flight search. `None` \u21d2 auto-bracket."},
};

const char* property_doc(std::string_view record, std::string_view field)
{
    for (const PropertyDoc& entry : property_docs) {
        if (entry.record == record && entry.field == field) {
            return entry.doc;
        }
    }
    return nullptr;
}

template <ConfigRecord Record, std::size_t Index>
PyGetSetDef property()
{
    const char* name = field_at<Record, Index>.name;
    return {name, get_field<Record, Index>, set_field<Record, Index>,
            property_doc(RecordFields<Record>::name, name), const_cast<char*>(name)};
}

// One property per field in declaration order, then the terminating empty entry; it must
// outlive the class.
template <ConfigRecord Record, std::size_t... Index>
std::array<PyGetSetDef, sizeof...(Index) + 1> make_property_table(std::index_sequence<Index...>)
{
    return {{property<Record, Index>()..., {nullptr, nullptr, nullptr, nullptr, nullptr}}};
}

template <ConfigRecord Record>
std::array<PyGetSetDef, field_count<Record> + 1> property_table =
    make_property_table<Record>(std::make_index_sequence<field_count<Record>>{});

// The class doc string of each record: its text signature, whose defaults are written by hand
// ("..." for vectors and records).
template <ConfigRecord Record>
constexpr const char* class_doc = nullptr;
template <>
constexpr const char* class_doc<Spacecraft> =
    "Spacecraft(wet_mass=2000.0, fuel=1700.0, real_max_thrust=24000.0, min_thrust_pct=0.2, "
    "max_thrust_pct=0.8, max_velocity=1000.0, initial_position=..., initial_velocity=..., "
    "target_velocity=..., target_position=..., fuel_consumption=5e-4)\n--\n\n";
template <>
constexpr const char* class_doc<Environment> =
    "Environment(gravity=..., glide_slope_angle_deg=0.0, max_angle_deg=90.0)\n--\n\n";
template <>
constexpr const char* class_doc<Solver> =
    "Solver(n=100, time_of_flight=None, tof_min=None, tof_max=None)\n--\n\n";
template <>
constexpr const char* class_doc<Config> = "Config(spacecraft=..., environment=..., solver=...)\n--\n\n";

// "tarvo._tarvo.<Name>" for the class and "<Name>.__new__()" for binding messages; created on
// first use and kept for the life of the interpreter, as the class keeps a pointer to the first.
template <ConfigRecord Record>
const char* qualified_name()
{
    static const std::string name = std::string("tarvo._tarvo.") + RecordFields<Record>::name;
    return name.c_str();
}

template <ConfigRecord Record>
const char* constructor_name()
{
    static const std::string name = std::string(RecordFields<Record>::name) + ".__new__()";
    return name.c_str();
}

// Converts each given argument into its field, in declaration order; the first failure gets
// the field's note and ends the walk.
template <ConfigRecord Record>
bool assign_arguments(const ModuleState& state, PyObject* const* values, Record& record)
{
    bool assigned = true;
    std::size_t index = 0;
    tarvo_core::config::for_each_field<Record>([&](const auto& field) {
        PyObject* value = values[index++];
        if (!assigned || value == nullptr) {
            return;
        }
        if (!convert_field(state, value, record.*field.member)) {
            add_argument_note(field.name);
            assigned = false;
        }
    });
    return assigned;
}

template <ConfigRecord Record>
PyObject* record_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept
{
    return guarded_in<PyObject*>(type, nullptr, [=](const ModuleState& state) -> PyObject* {
        constexpr std::size_t count = field_count<Record>;
        const Signature signature{constructor_name<Record>(), field_names<Record>.data(),
                                  static_cast<Py_ssize_t>(count), 0};
        PyObject* values[count] = {};
        if (!bind_tuple_and_dict(signature, args, kwargs, values)) {
            return nullptr;
        }
        Record record{};
        if (!assign_arguments(state, values, record)) {
            return nullptr;
        }
        return new_value_object(type, record);
    });
}

template <ConfigRecord Record>
bool create_record_class(PyObject* module, ModuleState& state, PyMethodDef* methods = nullptr)
{
    std::array<PyType_Slot, 6> slots{{
        {Py_tp_doc, const_cast<char*>(class_doc<Record>)},
        {Py_tp_new, slot_function(record_new<Record>)},
        {Py_tp_dealloc, slot_function(value_object_dealloc<Record>)},
        {Py_tp_getset, property_table<Record>.data()},
        {0, nullptr},
        {0, nullptr},
    }};
    if (methods != nullptr) {
        slots[4] = {Py_tp_methods, methods};
    }
    PyType_Spec type_spec{qualified_name<Record>(), static_cast<int>(sizeof(ValueObject<Record>)),
                          0, Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE, slots.data()};
    PyTypeObject*& created = state.classes[class_index<Record>()];
    created = create_class(module, &type_spec);
    return created != nullptr;
}

}  // namespace

bool create_config_classes(PyObject* module, ModuleState& state)
{
    return create_record_class<Config>(module, state, config_methods()) &&
           create_record_class<Spacecraft>(module, state) &&
           create_record_class<Environment>(module, state) &&
           create_record_class<Solver>(module, state);
}

}  // namespace tarvo_py
