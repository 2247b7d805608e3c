// The Python classes Spacecraft, Environment, Solver and Config: constructors with keyword
// defaults and one read-write property per record field, all built from one field table per
// class.
#include <array>
#include <cstddef>
#include <iterator>
#include <type_traits>
#include <utility>

#include "field_conversion.hpp"
#include "record_object.hpp"

namespace tarvo_py {

namespace {

using tarvo_core::config::Config;
using tarvo_core::config::Environment;
using tarvo_core::config::Solver;
using tarvo_core::config::Spacecraft;

template <class Record>
struct FieldDef {
    const char* name;
    getter get;
    setter set;
    bool (*assign)(PyObject* value, Record& record);
    const char* doc;
};

template <class Record, auto Field>
using FieldType = std::remove_cvref_t<decltype(std::declval<Record&>().*Field)>;

template <class Record, auto Field>
PyObject* get_field(PyObject* self, void*) noexcept
{
    return guarded<PyObject*>(nullptr, [self]() -> PyObject* {
        RecordObject<Record>* object = as_record_object<Record>(self);
        ReadAccess access(object->access);
        if (!access.held()) {
            return nullptr;
        }
        const FieldType<Record, Field> value = object->record.*Field;
        access.release();
        return to_python(value);
    });
}

// Converts before taking write access: a failed conversion leaves the object unchanged, and a
// conversion that runs Python code (__float__, __index__) may itself use the object. The
// closure is the property name for the note.
template <class Record, auto Field>
int set_field(PyObject* self, PyObject* value, void* closure) noexcept
{
    return guarded<int>(-1, [self, value, closure]() -> int {
        if (value == nullptr) {
            PyErr_SetString(PyExc_AttributeError, "property has no deleter");
            return -1;
        }
        FieldType<Record, Field> converted{};
        if (!convert_value(value, converted)) {
            add_argument_note(static_cast<const char*>(closure));
            return -1;
        }
        RecordObject<Record>* object = as_record_object<Record>(self);
        WriteAccess access(object->access);
        if (!access.held()) {
            return -1;
        }
        object->record.*Field = converted;
        return 0;
    });
}

template <class Record, auto Field>
bool assign_field(PyObject* value, Record& record)
{
    return convert_value(value, record.*Field);
}

template <class Record, auto Field>
constexpr FieldDef<Record> field(const char* name, const char* doc = nullptr)
{
    return {name, get_field<Record, Field>, set_field<Record, Field>, assign_field<Record, Field>,
            doc};
}

// Per class: the name it is created under, the constructor's name in messages, the doc string
// (text signature) and the fields in declaration order, which is also the order of the
// constructor's parameters.
template <class Record>
struct ClassDef;

template <>
struct ClassDef<Spacecraft> {
    static constexpr const char* qualified_name = "tarvo._tarvo.Spacecraft";
    static constexpr const char* constructor = "Spacecraft.__new__()";
    static constexpr const char* doc =
        "Spacecraft(wet_mass=2000.0, fuel=1700.0, real_max_thrust=24000.0, min_thrust_pct=0.2, "
        "max_thrust_pct=0.8, max_velocity=1000.0, initial_position=..., initial_velocity=..., "
        "target_velocity=..., target_position=..., fuel_consumption=5e-4)\n--\n\n";
    static constexpr FieldDef<Spacecraft> fields[] = {
        field<Spacecraft, &Spacecraft::wet_mass>("wet_mass"),
        field<Spacecraft, &Spacecraft::fuel>("fuel"),
        field<Spacecraft, &Spacecraft::real_max_thrust>("real_max_thrust"),
        field<Spacecraft, &Spacecraft::min_thrust_pct>("min_thrust_pct"),
        field<Spacecraft, &Spacecraft::max_thrust_pct>("max_thrust_pct"),
        field<Spacecraft, &Spacecraft::max_velocity>("max_velocity"),
        field<Spacecraft, &Spacecraft::initial_position>("initial_position"),
        field<Spacecraft, &Spacecraft::initial_velocity>("initial_velocity"),
        field<Spacecraft, &Spacecraft::target_velocity>("target_velocity"),
        field<Spacecraft, &Spacecraft::target_position>("target_position"),
        field<Spacecraft, &Spacecraft::fuel_consumption>("fuel_consumption"),
    };
};

template <>
struct ClassDef<Environment> {
    static constexpr const char* qualified_name = "tarvo._tarvo.Environment";
    static constexpr const char* constructor = "Environment.__new__()";
    static constexpr const char* doc =
        "Environment(gravity=..., glide_slope_angle_deg=0.0, max_angle_deg=90.0)\n--\n\n";
    static constexpr FieldDef<Environment> fields[] = {
        field<Environment, &Environment::gravity>("gravity"),
        field<Environment, &Environment::glide_slope_angle_deg>("glide_slope_angle_deg"),
        field<Environment, &Environment::max_angle_deg>("max_angle_deg"),
    };
};

template <>
struct ClassDef<Solver> {
    static constexpr const char* qualified_name = "tarvo._tarvo.Solver";
    static constexpr const char* constructor = "Solver.__new__()";
    static constexpr const char* doc =
        "Solver(n=100, time_of_flight=None, tof_min=None, tof_max=None)\n--\n\n";
    static constexpr FieldDef<Solver> fields[] = {
        field<Solver, &Solver::n>("n"),
        field<Solver, &Solver::time_of_flight>(
            "time_of_flight",
            "Discretization horizon. `None` \u21d2 `solve` searches for the fuel-optimal\n"
            "time-of-flight ([`tarvo_core::search`])."),
        field<Solver, &Solver::tof_min>(
            "tof_min", "Lower bound for the time-of-flight search. `None` \u21d2 auto-bracket."),
        field<Solver, &Solver::tof_max>(
            "tof_max", "Upper bound for the time-of-flight search. `None` \u21d2 auto-bracket."),
    };
};

template <>
struct ClassDef<Config> {
    static constexpr const char* qualified_name = "tarvo._tarvo.Config";
    static constexpr const char* constructor = "Config.__new__()";
    static constexpr const char* doc =
        "Config(spacecraft=..., environment=..., solver=...)\n--\n\n";
    static constexpr FieldDef<Config> fields[] = {
        field<Config, &Config::spacecraft>("spacecraft"),
        field<Config, &Config::environment>("environment"),
        field<Config, &Config::solver>("solver"),
    };
};

template <class Record>
constexpr std::size_t field_count = std::size(ClassDef<Record>::fields);

template <class Record>
constexpr std::array<const char*, field_count<Record>> parameter_names = [] {
    std::array<const char*, field_count<Record>> names{};
    for (std::size_t index = 0; index < names.size(); ++index) {
        names[index] = ClassDef<Record>::fields[index].name;
    }
    return names;
}();

// One property per field, then the terminating empty entry; it must outlive the class.
template <class Record>
std::array<PyGetSetDef, field_count<Record> + 1> property_table = [] {
    std::array<PyGetSetDef, field_count<Record> + 1> table{};
    for (std::size_t index = 0; index < field_count<Record>; ++index) {
        const FieldDef<Record>& def = ClassDef<Record>::fields[index];
        table[index] = {def.name, def.get, def.set, def.doc, const_cast<char*>(def.name)};
    }
    return table;
}();

template <class Record>
PyObject* record_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept
{
    return guarded<PyObject*>(nullptr, [type, args, kwargs]() -> PyObject* {
        constexpr std::size_t count = field_count<Record>;
        const Signature signature{ClassDef<Record>::constructor, parameter_names<Record>.data(),
                                  static_cast<Py_ssize_t>(count), 0};
        PyObject* values[count] = {};
        if (!bind_tuple_and_dict(signature, args, kwargs, values)) {
            return nullptr;
        }
        Record record{};
        for (std::size_t index = 0; index < count; ++index) {
            const FieldDef<Record>& def = ClassDef<Record>::fields[index];
            if (values[index] != nullptr && !def.assign(values[index], record)) {
                add_argument_note(def.name);
                return nullptr;
            }
        }
        return new_record_object(type, record);
    });
}

// Destroying the record cannot throw; the type reference is the one every heap-type instance
// holds.
template <class Record>
void record_dealloc(PyObject* self) noexcept
{
    PyTypeObject* type = Py_TYPE(self);
    RecordObject<Record>* object = as_record_object<Record>(self);
    object->record.~Record();
    object->access.~AccessCounter();
    auto free_object = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_object(self);
    Py_DECREF(type);
}

template <class Record>
PyTypeObject* create_record_class(PyMethodDef* methods)
{
    std::array<PyType_Slot, 6> slots{{
        {Py_tp_doc, const_cast<char*>(ClassDef<Record>::doc)},
        {Py_tp_new, slot_function(record_new<Record>)},
        {Py_tp_dealloc, slot_function(record_dealloc<Record>)},
        {Py_tp_getset, property_table<Record>.data()},
        {0, nullptr},
        {0, nullptr},
    }};
    if (methods != nullptr) {
        slots[4] = {Py_tp_methods, methods};
    }
    PyType_Spec type_spec{ClassDef<Record>::qualified_name,
                     static_cast<int>(sizeof(RecordObject<Record>)), 0,
                     Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE, slots.data()};
    return create_class(&type_spec);
}

template <class Record>
bool ensure_class(PyMethodDef* methods)
{
    if (record_type<Record> == nullptr) {
        record_type<Record> = create_record_class<Record>(methods);
    }
    return record_type<Record> != nullptr;
}

}  // namespace

bool ensure_config_classes()
{
    return ensure_class<Spacecraft>(nullptr) && ensure_class<Environment>(nullptr) &&
           ensure_class<Solver>(nullptr) && ensure_class<Config>(config_methods());
}

}  // namespace tarvo_py
