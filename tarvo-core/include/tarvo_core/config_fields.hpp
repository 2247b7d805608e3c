// The field table of each configuration record: its fields in declaration order, each as the
// name the JSON document and the Python classes use and the member it names. The kind of a
// field is the type of its member: a double, a Vec3, the node count (std::uint64_t), an
// optional double, or a nested record. The JSON reader and writer and the Python properties
// all walk these tables, so a new field is one member in config.hpp and one line here.
#pragma once

#include <array>
#include <cstddef>
#include <tuple>

#include "tarvo_core/config.hpp"

namespace tarvo_core::config {

template <class Record, class Value>
struct Field {
    const char* name;
    Value Record::*member;
};

template <class Record, class Value>
Field(const char*, Value Record::*) -> Field<Record, Value>;

// Specialised per record: `name` (the record's name in messages) and `fields`.
template <class Record>
struct RecordFields;

template <>
struct RecordFields<Spacecraft> {
    static constexpr const char* name = "Spacecraft";
    static constexpr std::tuple fields{
        Field{"wet_mass", &Spacecraft::wet_mass},
        Field{"fuel", &Spacecraft::fuel},
        Field{"real_max_thrust", &Spacecraft::real_max_thrust},
        Field{"min_thrust_pct", &Spacecraft::min_thrust_pct},
        Field{"max_thrust_pct", &Spacecraft::max_thrust_pct},
        Field{"max_velocity", &Spacecraft::max_velocity},
        Field{"initial_position", &Spacecraft::initial_position},
        Field{"initial_velocity", &Spacecraft::initial_velocity},
        Field{"target_velocity", &Spacecraft::target_velocity},
        Field{"target_position", &Spacecraft::target_position},
        Field{"fuel_consumption", &Spacecraft::fuel_consumption},
    };
};

template <>
struct RecordFields<Environment> {
    static constexpr const char* name = "Environment";
    static constexpr std::tuple fields{
        Field{"gravity", &Environment::gravity},
        Field{"glide_slope_angle_deg", &Environment::glide_slope_angle_deg},
        Field{"max_angle_deg", &Environment::max_angle_deg},
    };
};

template <>
struct RecordFields<Solver> {
    static constexpr const char* name = "Solver";
    static constexpr std::tuple fields{
        Field{"n", &Solver::n},
        Field{"time_of_flight", &Solver::time_of_flight},
        Field{"tof_min", &Solver::tof_min},
        Field{"tof_max", &Solver::tof_max},
    };
};

template <>
struct RecordFields<Config> {
    static constexpr const char* name = "Config";
    static constexpr std::tuple fields{
        Field{"spacecraft", &Config::spacecraft},
        Field{"environment", &Config::environment},
        Field{"solver", &Config::solver},
    };
};

// A type with a field table: one of the four records.
template <class T>
concept ConfigRecord = requires { RecordFields<T>::fields; };

template <ConfigRecord Record>
inline constexpr std::size_t field_count = std::tuple_size_v<decltype(RecordFields<Record>::fields)>;

// The field at `Index` in declaration order.
template <ConfigRecord Record, std::size_t Index>
inline constexpr auto field_at = std::get<Index>(RecordFields<Record>::fields);

template <ConfigRecord Record>
inline constexpr std::array<const char*, field_count<Record>> field_names =
    std::apply([](const auto&... field) { return std::array{field.name...}; }, RecordFields<Record>::fields);

// Calls visit(field) for every field of Record in declaration order.
template <ConfigRecord Record, class Visit>
constexpr void for_each_field(Visit&& visit) {
    std::apply([&](const auto&... field) { (visit(field), ...); }, RecordFields<Record>::fields);
}

}  // namespace tarvo_core::config
