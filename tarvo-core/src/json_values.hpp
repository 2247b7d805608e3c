// Reading the field values of the configuration document (doubles, optional doubles, the node
// count, 3-vectors) and the separators of arrays and objects. All return false on failure with
// the failure recorded in the cursor.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "json_cursor.hpp"

namespace tarvo_core::config {

// "invalid type: <found>, expected <expected>" for the value at the cursor (or the failure met
// while reading it).
bool fail_invalid_type(JsonCursor& in, std::string_view expected);

bool read_double(JsonCursor& in, double& out);
bool read_optional_double(JsonCursor& in, std::optional<double>& out);
bool read_count(JsonCursor& in, std::uint64_t& out);
bool read_vec3(JsonCursor& in, Vec3& out);

// Inside an array after "[": is there another element? Takes the separating comma.
bool next_element(JsonCursor& in, bool first, bool& more);
// After the elements a reader wanted: takes the closing "]".
bool end_array(JsonCursor& in);
// Inside an object after "{": is there another member? Takes the separating comma, not the key.
bool next_member(JsonCursor& in, bool first, bool& more);

}  // namespace tarvo_core::config
