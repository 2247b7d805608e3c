#include "number_text.hpp"

#include <charconv>
#include <cmath>

namespace tarvo_core {

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

}  // namespace tarvo_core
