// Writes a Config as the JSON document: fixed member order, two spaces per nesting level,
// doubles in their shortest round-trip form.
#include <charconv>
#include <cmath>
#include <cstddef>
#include <string>

#include "tarvo_core/config.hpp"
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

// Opens a member: line break, indentation, quoted key and ": ".
void key(std::string& out, int level, const char* name, bool first) {
    if (!first) out += ',';
    newline(out, level);
    out += '"';
    out += name;
    out += "\": ";
}

void number_member(std::string& out, int level, const char* name, double value, bool first = false) {
    key(out, level, name, first);
    out += format_double(value);
}

void optional_member(std::string& out, int level, const char* name, const std::optional<double>& value) {
    key(out, level, name, false);
    out += value ? format_double(*value) : "null";
}

void vector_member(std::string& out, int level, const char* name, const Vec3& value, bool first = false) {
    key(out, level, name, first);
    out += '[';
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (i > 0) out += ',';
        newline(out, level + 1);
        out += format_double(value[i]);
    }
    newline(out, level);
    out += ']';
}

void close_object(std::string& out, int level) {
    newline(out, level);
    out += '}';
}

void write_spacecraft(std::string& out, const Spacecraft& s) {
    key(out, 1, "spacecraft", true);
    out += '{';
    number_member(out, 2, "wet_mass", s.wet_mass, true);
    number_member(out, 2, "fuel", s.fuel);
    number_member(out, 2, "real_max_thrust", s.real_max_thrust);
    number_member(out, 2, "min_thrust_pct", s.min_thrust_pct);
    number_member(out, 2, "max_thrust_pct", s.max_thrust_pct);
    number_member(out, 2, "max_velocity", s.max_velocity);
    vector_member(out, 2, "initial_position", s.initial_position);
    vector_member(out, 2, "initial_velocity", s.initial_velocity);
    vector_member(out, 2, "target_velocity", s.target_velocity);
    vector_member(out, 2, "target_position", s.target_position);
    number_member(out, 2, "fuel_consumption", s.fuel_consumption);
    close_object(out, 1);
}

void write_environment(std::string& out, const Environment& e) {
    key(out, 1, "environment", false);
    out += '{';
    vector_member(out, 2, "gravity", e.gravity, true);
    number_member(out, 2, "glide_slope_angle_deg", e.glide_slope_angle_deg);
    number_member(out, 2, "max_angle_deg", e.max_angle_deg);
    close_object(out, 1);
}

void write_solver(std::string& out, const Solver& s) {
    key(out, 1, "solver", false);
    out += '{';
    key(out, 2, "n", true);
    out += std::to_string(s.n);
    optional_member(out, 2, "time_of_flight", s.time_of_flight);
    optional_member(out, 2, "tof_min", s.tof_min);
    optional_member(out, 2, "tof_max", s.tof_max);
    close_object(out, 1);
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
    std::string out = "{";
    write_spacecraft(out, config.spacecraft);
    write_environment(out, config.environment);
    write_solver(out, config.solver);
    close_object(out, 0);
    return out;
}

}  // namespace tarvo_core::config
