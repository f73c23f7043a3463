// A small strict JSON checker for the inspector's JSON Lines: every line one
// complete JSON value (RFC 8259 grammar, ASCII only, as the inspector writes
// it), nothing else. Used by the tests and the fuzz harness.
#pragma once

#include <string_view>

namespace sav3::inspect {

// True when `text` is one or more lines, each ending in a newline and holding
// exactly one JSON object.
bool valid_json_lines(std::string_view text);

}  // namespace sav3::inspect
