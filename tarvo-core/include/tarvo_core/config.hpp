// Configuration records: the vehicle, the environment and the discretisation of one landing
// problem. Plain values in SI units; nothing is validated, every value is stored as given.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "tarvo_core/result.hpp"

namespace tarvo_core::config {

// Three doubles, components 0, 1, 2; component 2 is the vertical one.
using Vec3 = std::array<double, 3>;

struct Spacecraft {
    double wet_mass = 2000.0;
    double fuel = 1700.0;
    double real_max_thrust = 24000.0;
    double min_thrust_pct = 0.2;  // a fraction: 0.2 means 20 %
    double max_thrust_pct = 0.8;
    double max_velocity = 1000.0;
    Vec3 initial_position{450.0, -330.0, 2400.0};
    Vec3 initial_velocity{-40.0, 10.0, -10.0};
    Vec3 target_velocity{0.0, 0.0, 0.0};
    Vec3 target_position{0.0, 0.0, 0.0};
    double fuel_consumption = 0.0005;  // kg per N per s
};

struct Environment {
    Vec3 gravity{0.0, 0.0, -3.71};
    double glide_slope_angle_deg = 0.0;
    // The thrust's largest angle from the direction opposite to gravity: plan_landing keeps
    // the thrust within it below 90; solve_fixed and the search ignore it.
    double max_angle_deg = 90.0;
};

struct Solver {
    std::uint64_t n = 100;
    std::optional<double> time_of_flight;  // unset: search for the fuel-optimal time of flight
    std::optional<double> tof_min;         // search bracket, used only when both are set
    std::optional<double> tof_max;
};

struct Config {
    Spacecraft spacecraft;
    Environment environment;
    Solver solver;
};

// The JSON document: a fixed indented layout on writing, lenient forms on reading.
std::string to_json(const Config& config);

// Where and why reading failed; line and column are 1-based, the column counted in bytes.
struct JsonError {
    std::string description;
    std::size_t line = 0;
    std::size_t column = 0;
};

// Never throws for bad text (only std::bad_alloc can escape).
Result<Config, JsonError> from_json(std::string_view text);

// The double as the document writes it: shortest round-trip digits, "null" when not finite.
std::string format_double(double value);

}  // namespace tarvo_core::config
