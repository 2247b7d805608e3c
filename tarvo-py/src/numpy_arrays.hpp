// Float64 NumPy arrays built through NumPy's C-API table, each over a fresh copy of the data:
// writeable ones owned by a buffer-owner object of the module's ArrayBuffer class, read-only
// ones held by an immutable bytes object.
#pragma once

#include <span>
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

// A read-only array of shape (N,), or (N, 3) when `columns` is 3, over a copy of `values`,
// made as numpy.frombuffer(bytes).reshape(shape) makes it: a view of a flat array over a
// bytes object. As bytes cannot be written, neither array can be made writeable again.
// Throws tarvo_core::InternalFault when NumPy is unavailable.
PyObject* frozen_array(ModuleState& state, std::span<const double> values, int columns = 1);
PyObject* frozen_array(ModuleState& state, const std::vector<tarvo_core::config::Vec3>& vectors);

}  // namespace tarvo_py
