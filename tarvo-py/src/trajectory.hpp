// PyTrajectory: the result of solve, owning one Trajectory record and exposing it through
// read-only properties.
#pragma once

#include "support.hpp"
#include "tarvo_core/solve.hpp"

namespace tarvo_py {

// The class, created on the first call and kept for the life of the interpreter. Null with an
// exception set on failure.
PyTypeObject* ensure_trajectory_class();

// A new PyTrajectory that takes over the record's lists. Null with an exception set when the
// allocation fails (the record is then discarded).
PyObject* new_trajectory_object(tarvo_core::solve::Trajectory&& trajectory);

}  // namespace tarvo_py
