// The JSON cursor: positions and failures, literals and separators, strings, numbers, skipping
// and the naming of unexpected values.
#include "json_cursor.hpp"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <limits>
#include <vector>

namespace tarvo_core::config {
namespace {

bool is_digit(int c) { return c >= '0' && c <= '9'; }
bool starts_number(int c) { return c == '-' || is_digit(c); }

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool is_high_surrogate(unsigned u) { return u >= 0xD800 && u <= 0xDBFF; }
bool is_low_surrogate(unsigned u) { return u >= 0xDC00 && u <= 0xDFFF; }

void append_utf8(std::string& out, unsigned code_point) {
    auto byte = [&](unsigned value) { out += static_cast<char>(value); };
    if (code_point < 0x80) {
        byte(code_point);
    } else if (code_point < 0x800) {
        byte(0xC0 | (code_point >> 6));
        byte(0x80 | (code_point & 0x3F));
    } else if (code_point < 0x10000) {
        byte(0xE0 | (code_point >> 12));
        byte(0x80 | ((code_point >> 6) & 0x3F));
        byte(0x80 | (code_point & 0x3F));
    } else {
        byte(0xF0 | (code_point >> 18));
        byte(0x80 | ((code_point >> 12) & 0x3F));
        byte(0x80 | ((code_point >> 6) & 0x3F));
        byte(0x80 | (code_point & 0x3F));
    }
}

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

// Exponents are saturated here: far beyond any double, small enough never to overflow.
constexpr std::int64_t exponent_cap = 1'000'000'000;

}  // namespace

// ---- Positions and failures

int JsonCursor::peek() {
    while (index_ < text_.size()) {
        const char c = text_[index_];
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r') return static_cast<unsigned char>(c);
        ++index_;
    }
    return end_of_text;
}

bool JsonCursor::fail_at(std::string description, std::size_t p) {
    if (description_.empty()) {
        description_ = std::move(description);
        error_index_ = std::min(p, text_.size());
    }
    return false;
}

bool JsonCursor::fail_next(std::string description) {
    return fail_at(std::move(description), index_ + 1);
}

bool JsonCursor::fail_invalid_type(std::string_view expected) {
    std::string found;
    if (!describe_value(found)) return false;
    return fail_here("invalid type: " + found + ", expected " + std::string(expected));
}

// Line: 1 + line feeds before the start of p's line; column: bytes from that line start to p.
JsonError JsonCursor::error() const {
    const std::string_view before = text_.substr(0, error_index_);
    const std::size_t last_feed = before.rfind('\n');
    const std::size_t line_start = last_feed == std::string_view::npos ? 0 : last_feed + 1;
    JsonError error;
    error.description = description_;
    error.line = 1 + static_cast<std::size_t>(std::count(before.begin(), before.begin() + line_start, '\n'));
    error.column = error_index_ - line_start;
    return error;
}

// ---- Literals and separators

bool JsonCursor::take_literal(std::string_view rest) {
    for (const char expected : rest) {
        if (index_ >= text_.size()) return fail_here("EOF while parsing a value");
        const char c = text_[index_++];
        if (c != expected) return fail_here("expected ident");
    }
    return true;
}

// Inside an array ('[') or object ('{') whose opening bracket has been taken: is there another
// item? Takes the separating comma, neither the closing bracket nor a member's key.
bool JsonCursor::next_item(char open, bool first, bool& more) {
    const char close = open == '[' ? ']' : '}';
    const int c = peek();
    more = false;
    if (c == end_of_text) {
        return fail_next(open == '[' ? "EOF while parsing a list" : "EOF while parsing an object");
    }
    if (c == close) return true;
    if (!first) {
        if (c != ',') return fail_next(open == '[' ? "expected `,` or `]`" : "expected `,` or `}`");
        ++index_;
        const int next = peek();
        if (next == end_of_text) return fail_next("EOF while parsing a value");
        if (next == close) return fail_next("trailing comma");
    }
    more = true;
    return true;
}

bool JsonCursor::end_array() {
    const int c = peek();
    if (c == ']') {
        ++index_;
        return true;
    }
    if (c == end_of_text) return fail_next("EOF while parsing a list");
    if (c == ',') {
        ++index_;
        if (peek() == ']') return fail_next("trailing comma");
    }
    return fail_next("trailing characters");
}

bool JsonCursor::next_member(bool first, bool& more) {
    if (!next_item('{', first, more)) return false;
    if (more && peek() != '"') return fail_next("key must be a string");
    return true;
}

bool JsonCursor::take_colon() {
    const int c = peek();
    if (c != ':') return fail_next(c == end_of_text ? "EOF while parsing an object" : "expected `:`");
    ++index_;
    return true;
}

// ---- Strings: escapes, \u escapes with surrogate pairs, raw control characters. Skipped
// strings are checked for well-formedness only, so lone surrogates pass there.

bool JsonCursor::take_string(std::string& out) {
    out.clear();
    return take_string_into(&out);
}

// With out == nullptr the string is only checked and skipped.
bool JsonCursor::take_string_into(std::string* out) {
    for (;;) {
        if (index_ >= text_.size()) return fail_here("EOF while parsing a string");
        const char c = text_[index_];
        if (c == '"') {
            ++index_;
            return true;
        }
        if (c == '\\') {
            ++index_;
            if (!take_escape(out)) return false;
            continue;
        }
        if (static_cast<unsigned char>(c) < 0x20)
            return fail_next("control character (\\u0000-\\u001F) found while parsing a string");
        if (out) *out += c;
        ++index_;
    }
}

bool JsonCursor::take_escape(std::string* out) {
    if (index_ >= text_.size()) return fail_here("EOF while parsing a string");
    const char c = text_[index_++];
    char plain = 0;
    switch (c) {
        case '"': plain = '"'; break;
        case '\\': plain = '\\'; break;
        case '/': plain = '/'; break;
        case 'b': plain = '\b'; break;
        case 'f': plain = '\f'; break;
        case 'n': plain = '\n'; break;
        case 'r': plain = '\r'; break;
        case 't': plain = '\t'; break;
        case 'u': return take_unicode_escape(out);
        default: return fail_here("invalid escape");
    }
    if (out) *out += plain;
    return true;
}

bool JsonCursor::take_hex4(unsigned& out) {
    out = 0;
    for (int i = 0; i < 4; ++i) {
        if (index_ >= text_.size()) return fail_here("EOF while parsing a string");
        const int digit = hex_value(text_[index_]);
        if (digit < 0) return fail_next("unexpected end of hex escape");
        out = out * 16 + static_cast<unsigned>(digit);
        ++index_;
    }
    return true;
}

// "\u" has been taken. A high surrogate must be followed by "\u" and a low surrogate.
bool JsonCursor::take_unicode_escape(std::string* out) {
    unsigned unit = 0;
    if (!take_hex4(unit)) return false;
    if (!out) return true;
    if (is_low_surrogate(unit)) return fail_here("invalid unicode code point");
    if (!is_high_surrogate(unit)) {
        append_utf8(*out, unit);
        return true;
    }
    for (const char expected : {'\\', 'u'}) {
        if (index_ >= text_.size()) return fail_here("EOF while parsing a string");
        if (text_[index_] != expected) return fail_next("lone leading surrogate in hex escape");
        ++index_;
    }
    unsigned low = 0;
    if (!take_hex4(low)) return false;
    if (!is_low_surrogate(low)) return fail_here("lone leading surrogate in hex escape");
    append_utf8(*out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
    return true;
}

// ---- Numbers: grammar check with the reader's error positions, then classification and
// correctly rounded conversion.

double JsonNumber::as_double() const {
    switch (kind) {
        case Kind::unsigned_integer: return static_cast<double>(unsigned_value);
        case Kind::negative_integer: return static_cast<double>(negative_value);
        case Kind::floating: break;
    }
    return float_value;
}

std::string JsonNumber::describe() const {
    switch (kind) {
        case Kind::unsigned_integer: return "integer `" + std::to_string(unsigned_value) + "`";
        case Kind::negative_integer: return "integer `" + std::to_string(negative_value) + "`";
        case Kind::floating: break;
    }
    return "floating point `" + format_double(float_value) + "`";
}

// Where the parts of a scanned number lie in the text.
struct JsonCursor::NumberSpan {
    std::size_t start = 0;         // the sign or first digit
    std::size_t digits_start = 0;  // first digit of the integer part
    std::size_t integer_end = 0;   // one past the integer part
    std::size_t end = 0;           // one past the whole number
    bool negative = false;
    bool integer_only = true;      // no fraction, no exponent
    std::int64_t exponent = 0;     // value of the exponent part, saturated
};

bool JsonCursor::scan_number(NumberSpan& span) {
    auto byte_at = [&](std::size_t i) { return i < text_.size() ? static_cast<unsigned char>(text_[i]) : end_of_text; };
    span = NumberSpan{};
    span.start = index_;
    if (byte_at(index_) == '-') {
        span.negative = true;
        ++index_;
    }
    span.digits_start = index_;
    const int first = byte_at(index_);
    if (first == end_of_text) return fail_here("EOF while parsing a value");
    ++index_;
    if (first == '0') {
        if (is_digit(byte_at(index_))) return fail_next("invalid number");
    } else if (is_digit(first)) {
        while (is_digit(byte_at(index_))) ++index_;
    } else {
        return fail_here("invalid number");
    }
    span.integer_end = index_;
    if (byte_at(index_) == '.') {
        span.integer_only = false;
        ++index_;
        if (!is_digit(byte_at(index_))) {
            return fail_next(byte_at(index_) == end_of_text ? "EOF while parsing a value" : "invalid number");
        }
        while (is_digit(byte_at(index_))) ++index_;
    }
    if (byte_at(index_) == 'e' || byte_at(index_) == 'E') {
        span.integer_only = false;
        ++index_;
        bool negative_exponent = false;
        if (byte_at(index_) == '+' || byte_at(index_) == '-') negative_exponent = text_[index_++] == '-';
        const int lead = byte_at(index_);
        if (lead == end_of_text) return fail_here("EOF while parsing a value");
        ++index_;
        if (!is_digit(lead)) return fail_here("invalid number");
        std::int64_t exponent = lead - '0';
        while (is_digit(byte_at(index_))) {
            if (exponent < exponent_cap) exponent = exponent * 10 + (text_[index_] - '0');
            ++index_;
        }
        span.exponent = negative_exponent ? -exponent : exponent;
    }
    span.end = index_;
    return true;
}

bool JsonCursor::skip_number() {
    NumberSpan span;
    return scan_number(span);
}

bool JsonCursor::take_number(JsonNumber& out) {
    NumberSpan span;
    if (!scan_number(span)) return false;
    const char* begin = text_.data();
    out = JsonNumber{};
    if (span.integer_only) {
        std::uint64_t magnitude = 0;
        const auto parsed = std::from_chars(begin + span.digits_start, begin + span.integer_end, magnitude);
        const std::uint64_t i64_min_magnitude = std::uint64_t{1} << 63;
        if (parsed.ec == std::errc() && !span.negative) {
            out.kind = JsonNumber::Kind::unsigned_integer;
            out.unsigned_value = magnitude;
            return true;
        }
        // -0 and negatives below the signed 64-bit range are doubles.
        if (parsed.ec == std::errc() && magnitude != 0 && magnitude <= i64_min_magnitude) {
            out.kind = JsonNumber::Kind::negative_integer;
            out.negative_value = magnitude == i64_min_magnitude
                                     ? std::numeric_limits<std::int64_t>::min()
                                     : -static_cast<std::int64_t>(magnitude);
            return true;
        }
    }
    out.kind = JsonNumber::Kind::floating;
    const auto parsed = std::from_chars(begin + span.start, begin + span.end, out.float_value);
    if (parsed.ec == std::errc()) return true;
    // Out of range: decide between overflow and underflow by the decimal exponent of the first
    // non-zero digit (a zero significand never lands here).
    std::int64_t digit_position = 0;
    for (std::size_t i = span.digits_start; i < span.end; ++i) {
        const char c = text_[i];
        if (c == '.') continue;
        if (c != '0') break;
        ++digit_position;
    }
    const std::int64_t integer_digits = static_cast<std::int64_t>(span.integer_end - span.digits_start);
    if (integer_digits - 1 - digit_position + span.exponent >= 0) return fail_here("number out of range");
    out.float_value = span.negative ? -0.0 : 0.0;
    return true;
}

// ---- Skipping a value of unknown content. Nesting is tracked on a heap stack of open
// brackets, so the depth of the input never reaches the call stack.

bool JsonCursor::skip_scalar(int first) {
    switch (first) {
        case end_of_text: return fail_next("EOF while parsing a value");
        case 'n': ++index_; return take_literal("ull");
        case 't': ++index_; return take_literal("rue");
        case 'f': ++index_; return take_literal("alse");
        case '"': ++index_; return skip_string();
        default: break;
    }
    if (starts_number(first)) return skip_number();
    return fail_next("expected value");
}

// At a member key inside a skipped object; takes the key and the colon.
bool JsonCursor::skip_member_key() {
    if (peek() != '"') return fail_next("key must be a string");
    ++index_;
    return skip_string() && take_colon();
}

bool JsonCursor::skip_value() {
    std::vector<char> open;  // brackets not yet closed, innermost last
    bool first = false;      // the next item would be the first of the innermost bracket
    bool value_due = true;
    for (;;) {
        if (value_due) {
            const int c = peek();
            if (c != '[' && c != '{') {
                if (!skip_scalar(c)) return false;
            } else {
                ++index_;
                open.push_back(static_cast<char>(c));
                first = true;
            }
        }
        // Between items: close the innermost bracket, or move on to its next item.
        if (open.empty()) return true;
        bool more = false;
        if (!next_item(open.back(), first, more)) return false;
        first = false;
        if (!more) {
            ++index_;  // the closing bracket
            open.pop_back();
            value_due = false;
            continue;
        }
        if (open.back() == '{' && !skip_member_key()) return false;
        value_due = true;
    }
}

// ---- Naming an unexpected value: takes it and names it for an invalid-type message; false
// when the value itself is malformed.

bool JsonCursor::describe_value(std::string& found) {
    const int c = peek();
    switch (c) {
        case end_of_text: return fail_next("EOF while parsing a value");
        case 'n': ++index_; found = "null"; return take_literal("ull");
        case 't': ++index_; found = "boolean `true`"; return take_literal("rue");
        case 'f': ++index_; found = "boolean `false`"; return take_literal("alse");
        case '[': found = "sequence"; return true;  // reported at the bracket
        case '{': found = "map"; return true;
        case '"': {
            ++index_;
            std::string text;
            if (!take_string(text)) return false;
            found = "string " + quoted(text);
            return true;
        }
        default: break;
    }
    if (!starts_number(c)) return fail_next("expected value");
    JsonNumber number;
    if (!take_number(number)) return false;
    found = number.describe();
    return true;
}

}  // namespace tarvo_core::config
