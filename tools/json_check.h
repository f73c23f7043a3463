// A small strict JSON checker for the inspector's JSON Lines: every line one
// complete JSON value (RFC 8259 grammar, ASCII only, as the inspector writes
// it), nothing else. Used by the tests and the fuzz harness.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace sav3::inspect {

// True when `text` is one or more lines, each ending in a newline and holding
// exactly one JSON object.
bool valid_json_lines(std::string_view text);

// The types a member of the vocabulary may have (bits).
namespace json_type {
inline constexpr unsigned string = 1, integer = 2, number = 4, boolean = 8, null = 16, object = 32,
                          array = 64;
}  // namespace json_type

// The vocabulary of every JSON output of the tools (docs/json.md): each
// member's name and the types it may have, one row each.
struct JsonMember {
  const char* name;
  unsigned types;
};
extern const JsonMember json_vocabulary[];
extern const std::size_t json_vocabulary_size;

// "" when `text` is valid JSON Lines whose every object starts with the
// members "tool" and "format" (the vocabulary's version) and holds, at any
// depth, only members of the vocabulary with one of their types; else the
// first problem ("line 2: member \"label\": not in the vocabulary").
std::string vocabulary_problem(std::string_view text);

}  // namespace sav3::inspect
