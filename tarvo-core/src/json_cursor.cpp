// Position bookkeeping, failure records and literals of the JSON cursor.
#include <algorithm>

#include "json_cursor.hpp"

namespace tarvo_core::config {

int JsonCursor::peek() {
    while (index_ < text_.size()) {
        const char c = text_[index_];
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r') return static_cast<unsigned char>(c);
        ++index_;
    }
    return end_of_text;
}

bool JsonCursor::fail_at(std::string description, std::size_t p) {
    if (description_.empty()) {
        description_ = std::move(description);
        error_index_ = std::min(p, text_.size());
    }
    return false;
}

bool JsonCursor::fail_next(std::string description) {
    return fail_at(std::move(description), index_ + 1);
}

// Line: 1 + line feeds before the start of p's line; column: bytes from that line start to p.
JsonError JsonCursor::error() const {
    const std::string_view before = text_.substr(0, error_index_);
    const std::size_t last_feed = before.rfind('\n');
    const std::size_t line_start = last_feed == std::string_view::npos ? 0 : last_feed + 1;
    JsonError error;
    error.description = description_;
    error.line = 1 + static_cast<std::size_t>(std::count(before.begin(), before.begin() + line_start, '\n'));
    error.column = error_index_ - line_start;
    return error;
}

bool JsonCursor::next_item(char open, bool first, bool& more) {
    const char close = open == '[' ? ']' : '}';
    const int c = peek();
    more = false;
    if (c == end_of_text) {
        return fail_next(open == '[' ? "EOF while parsing a list" : "EOF while parsing an object");
    }
    if (c == close) return true;
    if (!first) {
        if (c != ',') return fail_next(open == '[' ? "expected `,` or `]`" : "expected `,` or `}`");
        ++index_;
        const int next = peek();
        if (next == end_of_text) return fail_next("EOF while parsing a value");
        if (next == close) return fail_next("trailing comma");
    }
    more = true;
    return true;
}

bool JsonCursor::take_colon() {
    const int c = peek();
    if (c != ':') return fail_next(c == end_of_text ? "EOF while parsing an object" : "expected `:`");
    ++index_;
    return true;
}

bool JsonCursor::take_literal(std::string_view rest) {
    for (const char expected : rest) {
        if (index_ >= text_.size()) return fail_here("EOF while parsing a value");
        const char c = text_[index_++];
        if (c != expected) return fail_here("expected ident");
    }
    return true;
}

}  // namespace tarvo_core::config
