// Conversion between Python values and the field kinds of the configuration records:
// doubles, 3-vectors, the node count and optional doubles.
#pragma once

#include <cstdint>
#include <optional>

#include "support.hpp"
#include "tarvo_core/config.hpp"

namespace tarvo_py {

// Each stores the converted value in `out` and returns true, or returns false with the
// exception of the failing conversion set (out is then unchanged).
bool convert_value(PyObject* value, double& out);
bool convert_value(PyObject* value, tarvo_core::config::Vec3& out);
bool convert_value(PyObject* value, std::uint64_t& out);
bool convert_value(PyObject* value, std::optional<double>& out);

// New references: float, list of three floats, int, None or float. Null with an exception set.
PyObject* to_python(double value);
PyObject* to_python(const tarvo_core::config::Vec3& value);
PyObject* to_python(std::uint64_t value);
PyObject* to_python(const std::optional<double>& value);

}  // namespace tarvo_py
