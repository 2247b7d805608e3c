// JSON strings: escapes, \u escapes with surrogate pairs, raw control characters. Skipped
// strings are checked for well-formedness only, so lone surrogates pass there.
#include "json_cursor.hpp"

namespace tarvo_core::config {
namespace {

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

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

bool is_high_surrogate(unsigned u) { return u >= 0xD800 && u <= 0xDBFF; }
bool is_low_surrogate(unsigned u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

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

}  // namespace tarvo_core::config
