// A cursor over JSON text: whitespace, literals, strings, numbers, the separators of arrays and
// objects, and the skipping of whole values. Failures are recorded once (description and byte
// position) and reported as false; nothing here throws for bad text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "tarvo_core/config.hpp"

namespace tarvo_core::config {

// A JSON number as the reader classifies it: an unsigned integer, a negative integer within the
// signed 64-bit range, or anything else as a double (fractions, exponents, integers beyond those
// ranges and -0).
struct JsonNumber {
    enum class Kind { unsigned_integer, negative_integer, floating } kind = Kind::floating;
    std::uint64_t unsigned_value = 0;
    std::int64_t negative_value = 0;
    double float_value = 0.0;

    double as_double() const;
    // The <unexpected> text of an invalid-type message, e.g. "integer `5`".
    std::string describe() const;
};

inline constexpr int end_of_text = -1;

class JsonCursor {
public:
    explicit JsonCursor(std::string_view text) : text_(text) {}

    // Skips whitespace; returns the next byte without taking it, or end_of_text.
    int peek();
    void advance() { ++index_; }
    bool at_end_after_whitespace() { return peek() == end_of_text; }

    // Record a failure at byte position p, at the current index, or one past it (capped at the
    // length: the 1-based column of the byte being looked at). Always return false.
    bool fail_at(std::string description, std::size_t p);
    bool fail_here(std::string description) { return fail_at(std::move(description), index_); }
    bool fail_next(std::string description);
    // "invalid type: <found>, expected <expected>" for the value at the cursor, which is taken
    // (or the failure met while taking it).
    bool fail_invalid_type(std::string_view expected);
    JsonError error() const;

    // The first byte of the literal has been taken; takes the rest of it.
    bool take_literal(std::string_view rest);
    // The opening quote has been taken; takes the rest, unescaped, into out.
    bool take_string(std::string& out);
    // At '-' or a digit; takes the number.
    bool take_number(JsonNumber& out);

    // Inside an array after "[": is there another element? Takes the separating comma.
    bool next_element(bool first, bool& more) { return next_item('[', first, more); }
    // After the elements a reader wanted: takes the closing "]".
    bool end_array();
    // Inside an object after "{": is there another member? Takes the separating comma, not the
    // key, which must follow as a string.
    bool next_member(bool first, bool& more);
    // After a member key: takes the colon.
    bool take_colon();
    // Takes one well-formed value of any depth without building it.
    bool skip_value();

private:
    struct NumberSpan;

    bool next_item(char open, bool first, bool& more);
    bool take_escape(std::string* out);
    bool take_unicode_escape(std::string* out);
    bool take_hex4(unsigned& out);
    bool skip_string() { return take_string_into(nullptr); }
    bool take_string_into(std::string* out);
    bool scan_number(NumberSpan& span);
    bool skip_number();
    bool skip_scalar(int first);
    bool skip_member_key();
    bool describe_value(std::string& found);

    std::string_view text_;
    std::size_t index_ = 0;
    std::string description_;
    std::size_t error_index_ = 0;
};

}  // namespace tarvo_core::config
