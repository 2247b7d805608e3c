#include "validation.hpp"

#include <cmath>
#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>

#include "assemble.hpp"
#include "number_text.hpp"
#include "tarvo_core/config_fields.hpp"

namespace tarvo_core {
namespace {

Failure invalid(const std::string& rule) {
    std::string text = "invalid configuration: ";
    text.append(rule);
    return Failure::invalid_input(std::move(text));
}

// "<field> must be <rule>, not <value>".
Failure field_is_not(const char* field, const char* rule, const std::string& value) {
    std::string text = field;
    text.append(" must be ").append(rule).append(", not ").append(value);
    return invalid(text);
}

// "<lower> (<value>) must <relation> <upper> (<value>)".
Failure pair_is_not(const char* lower, double low, const char* relation, const char* upper,
                    double high) {
    std::string text = lower;
    text.append(" (").append(number_text(low)).append(") must ").append(relation).append(" ");
    text.append(upper).append(" (").append(number_text(high)).append(")");
    return invalid(text);
}

std::optional<Failure> positive_and_finite(const char* field, double value) {
    if (value > 0.0 && std::isfinite(value)) {
        return std::nullopt;
    }
    return field_is_not(field, "positive and finite", number_text(value));
}

bool finite(double value) { return std::isfinite(value); }
bool finite(const config::Vec3& v) { return finite(v[0]) && finite(v[1]) && finite(v[2]); }

std::string value_text(double value) { return number_text(value); }
std::string value_text(const config::Vec3& v) { return vector_text(v); }

// Limits whose infinity means "no limit".
bool unlimited(double config::Spacecraft::*member, double value) {
    return member == &config::Spacecraft::max_velocity && value == INFINITY;
}
bool unlimited(double config::Environment::*member, double value) {
    return member == &config::Environment::max_angle_deg && value == INFINITY;
}
template <class Member, class Value>
bool unlimited(Member, const Value&) {
    return false;
}

// The first field of `record` holding a number that is not finite, walked in the order of
// the field table; `prefix` is the record's name in the configuration and a dot.
template <config::ConfigRecord Record>
std::optional<Failure> first_non_finite(const Record& record, const std::string& prefix) {
    std::optional<Failure> found;
    config::for_each_field<Record>([&](const auto& field) {
        using Value = std::remove_cvref_t<decltype(record.*field.member)>;
        const Value& value = record.*field.member;
        if (found) {
            return;
        }
        const std::string name = prefix + field.name;
        if constexpr (std::is_same_v<Value, std::optional<double>>) {
            if (value && !finite(*value)) {
                found = field_is_not(name.c_str(), "finite", value_text(*value));
            }
        } else if constexpr (std::is_same_v<Value, double> ||
                             std::is_same_v<Value, config::Vec3>) {
            if (!finite(value) && !unlimited(field.member, value)) {
                found = field_is_not(name.c_str(), "finite", value_text(value));
            }
        }
    });
    return found;
}

std::optional<Failure> node_count_failure(std::uint64_t n) {
    if (auto error = assemble::node_count_error(n)) {
        return Failure::invalid_input(std::move(*error));
    }
    return std::nullopt;
}

std::optional<Failure> bracket_failure(const config::Solver& solver) {
    if (!solver.tof_min || !solver.tof_max) {
        return std::nullopt;
    }
    if (auto failure = positive_and_finite("solver.tof_min", *solver.tof_min)) {
        return failure;
    }
    if (auto failure = positive_and_finite("solver.tof_max", *solver.tof_max)) {
        return failure;
    }
    if (*solver.tof_min >= *solver.tof_max) {
        return pair_is_not("solver.tof_min", *solver.tof_min, "be less than", "solver.tof_max",
                           *solver.tof_max);
    }
    return std::nullopt;
}

std::optional<Failure> thrust_fraction_failure(const config::Spacecraft& spacecraft) {
    if (spacecraft.min_thrust_pct < 0.0) {
        return field_is_not("spacecraft.min_thrust_pct", "0 or more",
                            number_text(spacecraft.min_thrust_pct));
    }
    if (spacecraft.max_thrust_pct < 0.0) {
        return field_is_not("spacecraft.max_thrust_pct", "0 or more",
                            number_text(spacecraft.max_thrust_pct));
    }
    if (spacecraft.min_thrust_pct > spacecraft.max_thrust_pct) {
        return pair_is_not("spacecraft.min_thrust_pct", spacecraft.min_thrust_pct, "not exceed",
                           "spacecraft.max_thrust_pct", spacecraft.max_thrust_pct);
    }
    return std::nullopt;
}

}  // namespace

std::optional<Failure> fixed_input_failure(const config::Config& config, double tof) {
    if (auto failure = node_count_failure(config.solver.n)) {
        return failure;
    }
    if (auto failure = positive_and_finite("solver.time_of_flight", tof)) {
        return failure;
    }
    return thrust_fraction_failure(config.spacecraft);
}

std::optional<Failure> search_input_failure(const config::Config& config) {
    if (auto failure = node_count_failure(config.solver.n)) {
        return failure;
    }
    if (auto failure = bracket_failure(config.solver)) {
        return failure;
    }
    return thrust_fraction_failure(config.spacecraft);
}

std::optional<Failure> flight_model_failure(const config::Config& config) {
    std::optional<Failure> found;
    config::for_each_field<config::Config>([&](const auto& record) {
        if (!found) {
            found = first_non_finite(config.*record.member, std::string(record.name) + ".");
        }
    });
    if (found) {
        return found;
    }
    const config::Spacecraft& craft = config.spacecraft;
    if (!(craft.fuel < craft.wet_mass)) {
        return pair_is_not("spacecraft.fuel", craft.fuel, "be less than", "spacecraft.wet_mass",
                           craft.wet_mass);
    }
    if (!(craft.fuel_consumption > 0.0)) {
        return field_is_not("spacecraft.fuel_consumption", "positive",
                            number_text(craft.fuel_consumption));
    }
    return std::nullopt;
}

}  // namespace tarvo_core
