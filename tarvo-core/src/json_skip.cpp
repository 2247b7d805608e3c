// Skipping a value of unknown content. Nesting is tracked on a heap stack of open brackets, so
// the depth of the input never reaches the call stack.
#include <vector>

#include "json_cursor.hpp"

namespace tarvo_core::config {
namespace {

char closing(char open) { return open == '[' ? ']' : '}'; }

const char* eof_inside(char open) {
    return open == '[' ? "EOF while parsing a list" : "EOF while parsing an object";
}

const char* missing_separator(char open) {
    return open == '[' ? "expected `,` or `]`" : "expected `,` or `}`";
}

}  // namespace

bool JsonCursor::skip_scalar(int first) {
    switch (first) {
        case end_of_text: return fail_next("EOF while parsing a value");
        case 'n': ++index_; return take_literal("ull");
        case 't': ++index_; return take_literal("rue");
        case 'f': ++index_; return take_literal("alse");
        case '"': ++index_; return skip_string();
        default: break;
    }
    if (first == '-' || (first >= '0' && first <= '9')) return skip_number();
    return fail_next("expected value");
}

// At the opening quote of a member key inside a skipped object; takes the key and the colon.
bool JsonCursor::skip_member_key() {
    const int c = peek();
    if (c == end_of_text) return fail_next("EOF while parsing an object");
    if (c != '"') return fail_next("key must be a string");
    ++index_;
    if (!skip_string()) return false;
    const int colon = peek();
    if (colon == end_of_text) return fail_next("EOF while parsing an object");
    if (colon != ':') return fail_next("expected `:`");
    ++index_;
    return true;
}

bool JsonCursor::skip_value() {
    std::vector<char> open;  // brackets not yet closed, innermost last
    bool value_due = true;
    for (;;) {
        if (value_due) {
            const int c = peek();
            if (c != '[' && c != '{') {
                if (!skip_scalar(c)) return false;
            } else {
                ++index_;
                const char bracket = static_cast<char>(c);
                open.push_back(bracket);
                const int next = peek();
                if (next == end_of_text) return fail_next(eof_inside(bracket));
                if (next != closing(bracket)) {
                    if (bracket == '{' && !skip_member_key()) return false;
                    continue;  // first element or member value
                }
                ++index_;
                open.pop_back();
            }
            value_due = false;
        }
        // A value has just ended: close brackets or move to the next element.
        if (open.empty()) return true;
        const char bracket = open.back();
        const int c = peek();
        if (c == end_of_text) return fail_next(eof_inside(bracket));
        if (c == closing(bracket)) {
            ++index_;
            open.pop_back();
            continue;
        }
        if (c != ',') return fail_next(missing_separator(bracket));
        ++index_;
        const int next = peek();
        if (next == end_of_text) return fail_next("EOF while parsing a value");
        if (next == closing(bracket)) return fail_next("trailing comma");
        if (bracket == '{' && !skip_member_key()) return false;
        value_due = true;
    }
}

}  // namespace tarvo_core::config
