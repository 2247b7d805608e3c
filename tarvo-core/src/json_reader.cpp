// Reads a Config from the JSON document. Each record comes as an object of its fields (any
// order, missing fields at their defaults, unknown members skipped) or as an array of its field
// values in declaration order. The record nesting is fixed: document -> record -> 3-vector.
#include <array>
#include <string>
#include <string_view>

#include "json_cursor.hpp"
#include "json_values.hpp"

namespace tarvo_core::config {
namespace {

// Per record: its field names in declaration order, the name used in invalid-type messages and
// a reader for one field by index.
template <class Record>
struct RecordFields;

template <class Record>
bool read_record(JsonCursor& in, Record& record);

template <>
struct RecordFields<Spacecraft> {
    static constexpr std::string_view expected = "struct Spacecraft";
    static constexpr std::array<std::string_view, 11> names = {
        "wet_mass",         "fuel",             "real_max_thrust",  "min_thrust_pct",
        "max_thrust_pct",   "max_velocity",     "initial_position", "initial_velocity",
        "target_velocity",  "target_position",  "fuel_consumption"};

    static bool read(JsonCursor& in, Spacecraft& s, std::size_t field) {
        switch (field) {
            case 0: return read_double(in, s.wet_mass);
            case 1: return read_double(in, s.fuel);
            case 2: return read_double(in, s.real_max_thrust);
            case 3: return read_double(in, s.min_thrust_pct);
            case 4: return read_double(in, s.max_thrust_pct);
            case 5: return read_double(in, s.max_velocity);
            case 6: return read_vec3(in, s.initial_position);
            case 7: return read_vec3(in, s.initial_velocity);
            case 8: return read_vec3(in, s.target_velocity);
            case 9: return read_vec3(in, s.target_position);
            default: return read_double(in, s.fuel_consumption);
        }
    }
};

template <>
struct RecordFields<Environment> {
    static constexpr std::string_view expected = "struct Environment";
    static constexpr std::array<std::string_view, 3> names = {"gravity", "glide_slope_angle_deg",
                                                              "max_angle_deg"};

    static bool read(JsonCursor& in, Environment& e, std::size_t field) {
        switch (field) {
            case 0: return read_vec3(in, e.gravity);
            case 1: return read_double(in, e.glide_slope_angle_deg);
            default: return read_double(in, e.max_angle_deg);
        }
    }
};

template <>
struct RecordFields<Solver> {
    static constexpr std::string_view expected = "struct Solver";
    static constexpr std::array<std::string_view, 4> names = {"n", "time_of_flight", "tof_min",
                                                              "tof_max"};

    static bool read(JsonCursor& in, Solver& s, std::size_t field) {
        switch (field) {
            case 0: return read_count(in, s.n);
            case 1: return read_optional_double(in, s.time_of_flight);
            case 2: return read_optional_double(in, s.tof_min);
            default: return read_optional_double(in, s.tof_max);
        }
    }
};

template <>
struct RecordFields<Config> {
    static constexpr std::string_view expected = "struct Config";
    static constexpr std::array<std::string_view, 3> names = {"spacecraft", "environment", "solver"};

    static bool read(JsonCursor& in, Config& c, std::size_t field) {
        switch (field) {
            case 0: return read_record(in, c.spacecraft);
            case 1: return read_record(in, c.environment);
            default: return read_record(in, c.solver);
        }
    }
};

// After "[": field values in declaration order; a short array leaves the rest at defaults.
template <class Record>
bool read_array_form(JsonCursor& in, Record& record) {
    using Fields = RecordFields<Record>;
    for (std::size_t field = 0; field < Fields::names.size(); ++field) {
        bool more = false;
        if (!next_element(in, field == 0, more)) return false;
        if (!more) break;
        if (!Fields::read(in, record, field)) return false;
    }
    return end_array(in);
}

// After "{": members in any order; each field at most once, unknown members skipped.
template <class Record>
bool read_object_form(JsonCursor& in, Record& record) {
    using Fields = RecordFields<Record>;
    std::array<bool, Fields::names.size()> seen{};
    std::string key;
    for (bool first = true;; first = false) {
        bool more = false;
        if (!next_member(in, first, more)) return false;
        if (!more) {
            in.advance();  // the "}"
            return true;
        }
        in.advance();  // the opening quote
        if (!in.take_string(key)) return false;
        std::size_t field = 0;
        while (field < Fields::names.size() && Fields::names[field] != key) ++field;
        if (field == Fields::names.size()) {
            if (!in.take_colon() || !in.skip_value()) return false;
            continue;
        }
        if (seen[field]) return in.fail_here("duplicate field `" + key + "`");
        seen[field] = true;
        if (!in.take_colon() || !Fields::read(in, record, field)) return false;
    }
}

template <class Record>
bool read_record(JsonCursor& in, Record& record) {
    const int c = in.peek();
    if (c != '{' && c != '[') return fail_invalid_type(in, RecordFields<Record>::expected);
    in.advance();
    return c == '{' ? read_object_form(in, record) : read_array_form(in, record);
}

}  // namespace

Result<Config, JsonError> from_json(std::string_view text) {
    JsonCursor in(text);
    Config config;
    if (!read_record(in, config)) return in.error();
    if (!in.at_end_after_whitespace()) {
        in.fail_next("trailing characters");
        return in.error();
    }
    return config;
}

}  // namespace tarvo_core::config
