// Every double the core writes as text, in its shortest round-trip digits (std::to_chars), laid
// out two ways: number_text for people (failure texts, notes) and format_double for the JSON
// document and the reader's messages. Part of the JSON library, which the core links.
#include "number_text.hpp"

#include <charconv>
#include <cmath>
#include <cstddef>
#include <string>
#include <system_error>

#include "tarvo_core/fault.hpp"

namespace tarvo_core {
namespace {

// Shortest round-trip digits d1..dk of a finite, non-zero magnitude and the decimal exponent E
// of d1, so that the magnitude is d1.d2...dk x 10^E.
struct DecimalDigits {
    std::string digits;
    int exponent = 0;
};

DecimalDigits shortest_digits(double magnitude) {
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, magnitude,
                                   std::chars_format::scientific);
    if (ec != std::errc()) throw InternalFault("to_chars failed for a finite double");
    DecimalDigits out;
    const char* p = buffer;
    for (; p < end && *p != 'e'; ++p)
        if (*p != '.') out.digits.push_back(*p);
    int exponent = 0;
    if (p < end) std::from_chars(p + 1 + (p[1] == '+' ? 1 : 0), end, exponent);
    out.exponent = exponent;
    return out;
}

// Appends d1.d2...dk x 10^E without an exponent (used for -5 <= E <= 15).
void append_plain(std::string& text, const DecimalDigits& d) {
    const int k = static_cast<int>(d.digits.size());
    const int e = d.exponent;
    if (e >= k - 1) {
        text.append(d.digits).append(static_cast<std::size_t>(e - k + 1), '0').append(".0");
    } else if (e >= 0) {
        const auto point = static_cast<std::size_t>(e + 1);
        text.append(d.digits, 0, point).append(1, '.').append(d.digits, point);
    } else {
        text.append("0.").append(static_cast<std::size_t>(-e - 1), '0').append(d.digits);
    }
}

// Appends d1[.d2...dk]e+E or e-E.
void append_exponent(std::string& text, const DecimalDigits& d) {
    text.append(1, d.digits[0]);
    if (d.digits.size() > 1) text.append(1, '.').append(d.digits, 1);
    text.append(d.exponent >= 0 ? "e+" : "e-");
    text.append(std::to_string(d.exponent >= 0 ? d.exponent : -d.exponent));
}

}  // namespace

std::string number_text(double value) {
    if (std::isnan(value)) {
        return "NaN";
    }
    if (std::isinf(value)) {
        return value > 0 ? "inf" : "-inf";
    }
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

// Texts are built by appending: GCC 12 misreads chains of std::string operator+ (-Wrestrict).
std::string vector_text(const config::Vec3& v) {
    std::string text = "(";
    text.append(number_text(v[0])).append(", ").append(number_text(v[1]));
    text.append(", ").append(number_text(v[2])).append(")");
    return text;
}

std::string config::format_double(double value) {
    if (!std::isfinite(value)) return "null";
    const bool negative = std::signbit(value);
    if (value == 0.0) return negative ? "-0.0" : "0.0";
    const DecimalDigits d = shortest_digits(std::fabs(value));
    std::string text = negative ? "-" : "";
    if (d.exponent >= -5 && d.exponent <= 15)
        append_plain(text, d);
    else
        append_exponent(text, d);
    return text;
}

}  // namespace tarvo_core
