// The one way the core writes a number into a text for people (failure texts, notes). The
// document's form of a number is config::format_double (config.hpp); both are written in
// number_text.cpp.
#pragma once

#include <string>

#include "tarvo_core/config.hpp"

namespace tarvo_core {

// The shortest text that reads back as the same double; "NaN", "inf", "-inf" otherwise.
std::string number_text(double value);

// "(x, y, z)", each component as number_text writes it.
std::string vector_text(const config::Vec3& v);

}  // namespace tarvo_core
