// The classes of _tarvo in its module state, and the way to that state from one of them. Every
// object of a class of _tarvo is a ValueObject holding a configuration record or a Trajectory.
#pragma once

#include <array>
#include <cstddef>
#include <type_traits>

#include "support.hpp"
#include "tarvo_core/config.hpp"
#include "tarvo_core/solve.hpp"

namespace tarvo_py {

// The position in ModuleState::classes of the class whose objects hold a Value: the order
// of __all__.
template <class Value>
constexpr std::size_t class_index()
{
    using namespace tarvo_core::config;
    if constexpr (std::is_same_v<Value, Config>) {
        return 0;
    } else if constexpr (std::is_same_v<Value, Spacecraft>) {
        return 1;
    } else if constexpr (std::is_same_v<Value, Environment>) {
        return 2;
    } else if constexpr (std::is_same_v<Value, Solver>) {
        return 3;
    } else {
        static_assert(std::is_same_v<Value, tarvo_core::solve::Trajectory>);
        return 4;
    }
}

template <class Value>
PyTypeObject* class_of(const ModuleState& state)
{
    return state.classes[class_index<Value>()];
}

// The state of the first _tarvo executed in this interpreter, whose classes every later one
// shares: for a static method, which is given neither its module nor its class.
ModuleState* first_module_state() noexcept;

// The four configuration classes of `module`, stored in state.classes. False with an
// exception set.
bool create_config_classes(PyObject* module, ModuleState& state);

// The class PyTrajectory of `module`. Null with an exception set.
PyTypeObject* create_trajectory_class(PyObject* module) noexcept;

// Methods of Config (to_json, from_json), terminated by an empty entry.
PyMethodDef* config_methods();

}  // namespace tarvo_py
