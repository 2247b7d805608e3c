// Skipping a value of unknown content. Nesting is tracked on a heap stack of open brackets, so
// the depth of the input never reaches the call stack.
#include <vector>

#include "json_cursor.hpp"

namespace tarvo_core::config {

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

}  // namespace tarvo_core::config
