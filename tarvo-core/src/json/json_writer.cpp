// Writes a Config as the JSON document: members in the order of the field tables, two spaces
// per nesting level, doubles as format_double writes them (number_text.cpp).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "tarvo_core/config.hpp"
#include "tarvo_core/config_fields.hpp"

namespace tarvo_core::config {
namespace {

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

std::string to_json(const Config& config) {
    std::string out;
    write_value(out, 0, config);
    return out;
}

}  // namespace tarvo_core::config
