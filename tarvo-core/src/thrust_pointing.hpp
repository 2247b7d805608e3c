// The thrust-pointing limit of the environment, and the direction it points against gravity.
#pragma once

#include <optional>

#include "formulation.hpp"
#include "tarvo_core/config.hpp"
#include "tarvo_core/result.hpp"

namespace tarvo_core::plan {

// The unit vector opposite to gravity; nullopt when gravity is zero or not finite.
std::optional<config::Vec3> up_direction(const config::Vec3& gravity);

// The pointing cone of environment.max_angle_deg: none at 90 degrees or more; an invalid
// input naming the angle when it is negative or NaN, or when gravity gives no direction to
// point against.
Result<std::optional<assemble::ThrustPointing>> thrust_pointing(
    const config::Environment& environment);

}  // namespace tarvo_core::plan
