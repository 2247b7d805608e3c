// Float64 NumPy arrays built through NumPy's C-API table, each owning a fresh copy of the data
// through a buffer-owner object of the module's ArrayBuffer class.
#pragma once

#include <vector>

#include "support.hpp"
#include "tarvo_core/config.hpp"

namespace tarvo_py {

// The module's ArrayBuffer class, never exported. Null with an exception set.
PyTypeObject* create_buffer_owner_type(PyObject* module) noexcept;

// A new array of shape (N,), or of shape (N, 3) whose row i is vector i. Throws
// tarvo_core::InternalFault when NumPy or the buffer owner is unavailable.
PyObject* to_array(ModuleState& state, const std::vector<double>& values);
PyObject* to_array(ModuleState& state, const std::vector<tarvo_core::config::Vec3>& vectors);

}  // namespace tarvo_py
