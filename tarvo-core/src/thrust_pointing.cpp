// The thrust-pointing limit of the environment: the thrust acceleration stays within
// max_angle_deg of the direction opposite to gravity.
#include "thrust_pointing.hpp"

#include <cmath>
#include <optional>
#include <string>
#include <utility>

#include "number_text.hpp"
#include "radians.hpp"

namespace tarvo_core::plan {
namespace {

constexpr double kNoLimitDeg = 90.0;  // at 90 degrees or more any thrust direction is allowed

Failure invalid_limit(double angle_deg, const std::string& reason) {
    std::string text = "max_angle_deg = ";
    text.append(number_text(angle_deg)).append(" is not a valid pointing limit: ").append(reason);
    return Failure::invalid_input(std::move(text));
}

}  // namespace

std::optional<config::Vec3> up_direction(const config::Vec3& gravity) {
    const double magnitude = std::hypot(gravity[0], gravity[1], gravity[2]);
    if (!(std::isfinite(magnitude) && magnitude > 0.0)) {
        return std::nullopt;
    }
    return config::Vec3{-gravity[0] / magnitude, -gravity[1] / magnitude,
                        -gravity[2] / magnitude};
}

Result<std::optional<assemble::ThrustPointing>> thrust_pointing(
    const config::Environment& environment) {
    const double angle = environment.max_angle_deg;
    if (std::isnan(angle) || angle < 0.0) {
        return invalid_limit(angle, "the angle between the thrust and the vertical must be 0 "
                                    "degrees or more (90 or more for no limit)");
    }
    if (angle >= kNoLimitDeg) {
        return std::optional<assemble::ThrustPointing>();
    }
    const std::optional<config::Vec3> up = up_direction(environment.gravity);
    if (!up) {
        std::string reason = "the thrust points against gravity, and gravity = ";
        reason.append(vector_text(environment.gravity)).append(" gives no direction");
        return invalid_limit(angle, reason);
    }
    return std::optional<assemble::ThrustPointing>(
        assemble::ThrustPointing{*up, std::cos(radians(angle))});
}

}  // namespace tarvo_core::plan
