// A configuration read from its portable form (tarvo._portable): a tuple of the 18 field
// values in declaration order, 11 of Spacecraft, 3 of Environment and 4 of Solver. A double
// is a float (subclasses included, so a NaN keeps its bits), a 3-vector a tuple or list of
// three floats, the node count an int from 0 to 2**64 - 1, an optional double None or a float.
#pragma once

#include "support.hpp"
#include "tarvo_core/config.hpp"

namespace tarvo_py {

inline constexpr Py_ssize_t portable_length = 18;

// Stores the configuration in `out` and returns true; or returns false with TypeError (a
// value of the wrong kind), ValueError (a wrong length) or OverflowError (a node count out
// of range) set, whose message names the field.
bool config_from_portable(PyObject* portable, tarvo_core::config::Config& out);

}  // namespace tarvo_py
