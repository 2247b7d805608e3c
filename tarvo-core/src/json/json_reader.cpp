// Reads a Config from the JSON document. Each record comes as an object of its fields (any
// order, missing fields at their defaults, unknown members skipped) or as an array of its field
// values in declaration order; the field tables give names, order and kinds. The record nesting
// is fixed: document -> record -> 3-vector, so the reader's depth never depends on the input.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "json_cursor.hpp"
#include "tarvo_core/config_fields.hpp"

namespace tarvo_core::config {
namespace {

bool starts_number(int c) { return c == '-' || (c >= '0' && c <= '9'); }

// One field value per kind; each returns false with the failure recorded in the cursor.

bool read_value(JsonCursor& in, double& out) {
    if (!starts_number(in.peek())) return in.fail_invalid_type("f64");
    JsonNumber number;
    if (!in.take_number(number)) return false;
    out = number.as_double();
    return true;
}

bool read_value(JsonCursor& in, std::optional<double>& out) {
    if (in.peek() != 'n') {
        double value = 0.0;
        if (!read_value(in, value)) return false;
        out = value;
        return true;
    }
    in.advance();
    out.reset();
    return in.take_literal("ull");
}

// The node count: an unsigned integer.
bool read_value(JsonCursor& in, std::uint64_t& out) {
    if (!starts_number(in.peek())) return in.fail_invalid_type("usize");
    JsonNumber number;
    if (!in.take_number(number)) return false;
    switch (number.kind) {
        case JsonNumber::Kind::unsigned_integer: out = number.unsigned_value; return true;
        case JsonNumber::Kind::negative_integer:
            return in.fail_here("invalid value: " + number.describe() + ", expected usize");
        case JsonNumber::Kind::floating: break;
    }
    return in.fail_here("invalid type: " + number.describe() + ", expected usize");
}

bool read_value(JsonCursor& in, Vec3& out) {
    constexpr const char* expected = "an array of length 3";
    if (in.peek() != '[') return in.fail_invalid_type(expected);
    in.advance();
    for (std::size_t i = 0; i < out.size(); ++i) {
        bool more = false;
        if (!in.next_element(i == 0, more)) return false;
        if (!more) {
            in.advance();  // the "]": a short array is reported just past it
            return in.fail_here("invalid length " + std::to_string(i) + ", expected " + expected);
        }
        if (!read_value(in, out[i])) return false;
    }
    return in.end_array();
}

template <ConfigRecord Record>
bool read_value(JsonCursor& in, Record& record);

// Reads the value of the field at `index` into its member.
template <ConfigRecord Record>
bool read_field(JsonCursor& in, Record& record, std::size_t index) {
    bool ok = false;
    std::size_t at = 0;
    for_each_field<Record>([&](const auto& field) {
        if (at++ == index) ok = read_value(in, record.*field.member);
    });
    return ok;
}

// After "[": field values in declaration order; a short array leaves the rest at defaults.
template <ConfigRecord Record>
bool read_array_form(JsonCursor& in, Record& record) {
    for (std::size_t field = 0; field < field_count<Record>; ++field) {
        bool more = false;
        if (!in.next_element(field == 0, more)) return false;
        if (!more) break;
        if (!read_field(in, record, field)) return false;
    }
    return in.end_array();
}

// After "{": members in any order; each field at most once, unknown members skipped.
template <ConfigRecord Record>
bool read_object_form(JsonCursor& in, Record& record) {
    constexpr const auto& names = field_names<Record>;
    std::array<bool, names.size()> seen{};
    std::string key;
    for (bool first = true;; first = false) {
        bool more = false;
        if (!in.next_member(first, more)) return false;
        if (!more) {
            in.advance();  // the "}"
            return true;
        }
        in.advance();  // the opening quote
        if (!in.take_string(key)) return false;
        std::size_t field = 0;
        while (field < names.size() && names[field] != key) ++field;
        if (field == names.size()) {
            if (!in.take_colon() || !in.skip_value()) return false;
            continue;
        }
        if (seen[field]) return in.fail_here("duplicate field `" + key + "`");
        seen[field] = true;
        if (!in.take_colon() || !read_field(in, record, field)) return false;
    }
}

template <ConfigRecord Record>
bool read_value(JsonCursor& in, Record& record) {
    const int c = in.peek();
    if (c != '{' && c != '[') return in.fail_invalid_type("struct " + std::string(RecordFields<Record>::name));
    in.advance();
    return c == '{' ? read_object_form(in, record) : read_array_form(in, record);
}

}  // namespace

Result<Config, JsonError> from_json(std::string_view text) {
    JsonCursor in(text);
    Config config;
    if (!read_value(in, config)) return in.error();
    if (!in.at_end_after_whitespace()) {
        in.fail_next("trailing characters");
        return in.error();
    }
    return config;
}

}  // namespace tarvo_core::config
