// Writes a Config as the JSON document: members in the order of the field tables, two spaces
// per nesting level, doubles in their shortest round-trip form.
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "tarvo_core/config.hpp"
#include "tarvo_core/config_fields.hpp"
#include "tarvo_core/fault.hpp"

namespace tarvo_core::config {
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

void newline(std::string& out, int level) {
    out += '\n';
    out.append(static_cast<std::size_t>(2 * level), ' ');
}

// One value per field kind, written at nesting level `level` (the level of its member line).

void write_value(std::string& out, int, double value) { out += format_double(value); }

void write_value(std::string& out, int, std::uint64_t value) { out += std::to_string(value); }

void write_value(std::string& out, int, const std::optional<double>& value) {
    out += value ? format_double(*value) : "null";
}

void write_value(std::string& out, int level, const Vec3& value) {
    out += '[';
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (i > 0) out += ',';
        newline(out, level + 1);
        out += format_double(value[i]);
    }
    newline(out, level);
    out += ']';
}

// A record as an object: one member per field, in the order of its field table.
template <ConfigRecord Record>
void write_value(std::string& out, int level, const Record& record) {
    out += '{';
    bool first = true;
    for_each_field<Record>([&](const auto& field) {
        if (!first) out += ',';
        first = false;
        newline(out, level + 1);
        out += '"';
        out += field.name;
        out += "\": ";
        write_value(out, level + 1, record.*field.member);
    });
    newline(out, level);
    out += '}';
}

}  // namespace

std::string format_double(double value) {
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

std::string to_json(const Config& config) {
    std::string out;
    write_value(out, 0, config);
    return out;
}

}  // namespace tarvo_core::config
