// Field values and array/object separators of the configuration document.
#include <cstdio>
#include <string>

#include "json_values.hpp"

namespace tarvo_core::config {
namespace {

bool starts_number(int c) { return c == '-' || (c >= '0' && c <= '9'); }

// The string in double quotes with quotes, backslashes and control characters escaped.
std::string quoted(const std::string& s) {
    std::string out = "\"";
    for (const char c : s) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case '\0': out += "\\0"; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
                    char escaped[16];
                    std::snprintf(escaped, sizeof escaped, "\\u{%x}", static_cast<unsigned>(c));
                    out += escaped;
                } else {
                    out += c;
                }
        }
    }
    return out + "\"";
}

// Takes the value at the cursor and names it; false when the value itself is malformed.
bool describe_value(JsonCursor& in, std::string& found) {
    const int c = in.peek();
    switch (c) {
        case end_of_text: return in.fail_next("EOF while parsing a value");
        case 'n': in.advance(); found = "null"; return in.take_literal("ull");
        case 't': in.advance(); found = "boolean `true`"; return in.take_literal("rue");
        case 'f': in.advance(); found = "boolean `false`"; return in.take_literal("alse");
        case '[': found = "sequence"; return true;  // reported at the bracket
        case '{': found = "map"; return true;
        case '"': {
            in.advance();
            std::string text;
            if (!in.take_string(text)) return false;
            found = "string " + quoted(text);
            return true;
        }
        default: break;
    }
    if (!starts_number(c)) return in.fail_next("expected value");
    JsonNumber number;
    if (!in.take_number(number)) return false;
    found = number.describe();
    return true;
}

}  // namespace

bool fail_invalid_type(JsonCursor& in, std::string_view expected) {
    std::string found;
    if (!describe_value(in, found)) return false;
    return in.fail_here("invalid type: " + found + ", expected " + std::string(expected));
}

bool read_double(JsonCursor& in, double& out) {
    if (!starts_number(in.peek())) return fail_invalid_type(in, "f64");
    JsonNumber number;
    if (!in.take_number(number)) return false;
    out = number.as_double();
    return true;
}

bool read_optional_double(JsonCursor& in, std::optional<double>& out) {
    if (in.peek() != 'n') {
        double value = 0.0;
        if (!read_double(in, value)) return false;
        out = value;
        return true;
    }
    in.advance();
    out.reset();
    return in.take_literal("ull");
}

bool read_count(JsonCursor& in, std::uint64_t& out) {
    if (!starts_number(in.peek())) return fail_invalid_type(in, "usize");
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

bool read_vec3(JsonCursor& in, Vec3& out) {
    constexpr const char* expected = "an array of length 3";
    if (in.peek() != '[') return fail_invalid_type(in, expected);
    in.advance();
    for (std::size_t i = 0; i < out.size(); ++i) {
        bool more = false;
        if (!next_element(in, i == 0, more)) return false;
        if (!more) {
            in.advance();  // the "]": a short array is reported just past it
            return in.fail_here("invalid length " + std::to_string(i) + ", expected " + expected);
        }
        if (!read_double(in, out[i])) return false;
    }
    return end_array(in);
}

bool next_element(JsonCursor& in, bool first, bool& more) {
    return in.next_item('[', first, more);
}

bool end_array(JsonCursor& in) {
    const int c = in.peek();
    if (c == ']') {
        in.advance();
        return true;
    }
    if (c == end_of_text) return in.fail_next("EOF while parsing a list");
    if (c == ',') {
        in.advance();
        if (in.peek() == ']') return in.fail_next("trailing comma");
    }
    return in.fail_next("trailing characters");
}

bool next_member(JsonCursor& in, bool first, bool& more) {
    if (!in.next_item('{', first, more)) return false;
    if (more && in.peek() != '"') return in.fail_next("key must be a string");
    return true;
}

}  // namespace tarvo_core::config
