// Fuzzes the JSON reader with arbitrary bytes. A failure must carry a position inside the text;
// a document that reads must survive writing and reading again unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "tarvo_core/config.hpp"

namespace {

[[noreturn]] void fail(const char* what, std::string_view detail) {
    std::fprintf(stderr, "json_fuzz: %s\n%.*s\n", what, static_cast<int>(detail.size()), detail.data());
    std::abort();
}

void check_position(std::string_view text, const tarvo_core::config::JsonError& error) {
    std::size_t line_feeds = 0;
    for (const char c : text) line_feeds += c == '\n';
    if (error.description.empty() || error.line < 1 || error.line > line_feeds + 1 ||
        error.column > text.size())
        fail("failure without a sound description or position", error.description);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarvo_core::config;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto read = from_json(text);
    if (!read) {
        check_position(text, read.error());
        return 0;
    }
    const std::string written = to_json(read.value());
    const auto again = from_json(written);
    if (!again) fail("written document does not read back", again.error().description + "\n" + written);
    if (to_json(again.value()) != written) fail("written document reads back differently", written);
    return 0;
}
