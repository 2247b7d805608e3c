// JSON numbers: grammar check with the reader's error positions, then classification and
// correctly rounded conversion.
#include <charconv>
#include <cstdint>
#include <limits>

#include "json_cursor.hpp"

namespace tarvo_core::config {
namespace {

bool is_digit(int c) { return c >= '0' && c <= '9'; }

constexpr std::int64_t exponent_cap = 1'000'000'000;

}  // namespace

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

}  // namespace tarvo_core::config
