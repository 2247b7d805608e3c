// Float64 NumPy arrays built through NumPy's C-API table, each owning a fresh copy of the data
// through a buffer-owner base object.
#pragma once

#include <vector>

#include "support.hpp"
#include "tarvo_core/config.hpp"

namespace tarvo_py {

// A new array of shape (N, 3): element (i, j) is component j of vector i. Throws
// tarvo_core::InternalFault when NumPy or the buffer owner is unavailable.
PyObject* nx3(const std::vector<tarvo_core::config::Vec3>& vectors);

// A new array of shape (N,). Throws like nx3.
PyObject* vec1(const std::vector<double>& values);

}  // namespace tarvo_py
