// PyTrajectory: the result of solve, owning one Trajectory record and exposing it through
// read-only properties: the per-node arrays, then objective, final_mass and status.
#include <array>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "node_arrays.hpp"
#include "numpy_arrays.hpp"
#include "tarvo_core/fault.hpp"
#include "tarvo_state.hpp"

namespace tarvo_py {

namespace {

PyObject* checked(PyObject* value)
{
    if (value == nullptr) {
        throw tarvo_core::InternalFault(
            "the interpreter returned no object for a trajectory value: " + take_error_text());
    }
    return value;
}

template <class Element>
PyObject* convert(ModuleState& state, const std::vector<Element>& values)
{
    return to_array(state, values);
}

PyObject* convert(ModuleState&, double value)
{
    return checked(PyFloat_FromDouble(value));
}

PyObject* convert(ModuleState&, const std::string& text)
{
    return checked(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

template <auto Member>
PyObject* get_field(PyObject* self, void*) noexcept
{
    return guarded_in<PyObject*>(Py_TYPE(self), nullptr, [self](ModuleState& state) {
        return convert(state, as_value_object<Trajectory>(self)->value.*Member);
    });
}

template <auto Member>
constexpr PyGetSetDef property(const char* name)
{
    return {name, get_field<Member>, nullptr, nullptr, nullptr};
}

template <std::size_t... Index>
constexpr std::array<PyGetSetDef, sizeof...(Index) + 4> make_properties(
    std::index_sequence<Index...>)
{
    return {{
        property<std::get<Index>(node_arrays).member>(std::get<Index>(node_arrays).name)...,
        property<&Trajectory::objective>("objective"),
        property<&Trajectory::final_mass>("final_mass"),
        property<&Trajectory::status>("status"),
        {nullptr, nullptr, nullptr, nullptr, nullptr},
    }};
}

auto properties =
    make_properties(std::make_index_sequence<std::tuple_size_v<decltype(node_arrays)>>{});

}  // namespace

PyTypeObject* create_trajectory_class(PyObject* module) noexcept
{
    PyType_Slot slots[] = {
        {Py_tp_dealloc, slot_function(value_object_dealloc<Trajectory>)},
        {Py_tp_getset, properties.data()},
        {0, nullptr},
    };
    PyType_Spec type_spec{"tarvo._tarvo.PyTrajectory",
                          static_cast<int>(sizeof(ValueObject<Trajectory>)), 0,
                          Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION, slots};
    return create_class(module, &type_spec);
}

}  // namespace tarvo_py
