// Configurations that no landing program can mean, refused before any solve with a text that
// names the field and its value: "invalid configuration: solver.time_of_flight must be
// positive and finite, not -45". Each check reads only what its caller uses.
#pragma once

#include <optional>

#include "tarvo_core/config.hpp"
#include "tarvo_core/result.hpp"

namespace tarvo_core {

// What refuses one solve at time of flight `tof`, in this order: the node count, the time of
// flight (positive and finite), the thrust fractions (neither negative, the minimum not
// above the maximum).
std::optional<Failure> fixed_input_failure(const config::Config& config, double tof);

// What refuses a search, in this order: the node count, the bracket when both bounds are
// set (the search reads it only then: each positive and finite, tof_min below tof_max), the
// thrust fractions.
std::optional<Failure> search_input_failure(const config::Config& config);

// What the continuous method also needs: every number finite (an infinite max_velocity or
// max_angle_deg means no limit), fuel below the wet mass, and a positive fuel consumption
// (without a mass flow the program's thrust bound sigma costs nothing and is not held to
// the thrust).
std::optional<Failure> flight_model_failure(const config::Config& config);

}  // namespace tarvo_core
