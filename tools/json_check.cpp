#include "json_check.h"

#include <cstring>

#include "sav3/json.h"

namespace sav3::inspect {

namespace {

struct Parser {
  std::string_view s;
  std::size_t at = 0;
  int depth = 0;
  // With `members`: each object member checked against the vocabulary; the
  // first problem kept in `problem`.
  bool members = false;
  std::string problem = {};

  bool end() const { return at >= s.size(); }
  char peek() const { return end() ? '\0' : s[at]; }
  void blanks() {
    while (!end() && (s[at] == ' ' || s[at] == '\t' || s[at] == '\r')) ++at;
  }
  bool take(char c) {
    if (peek() != c) return false;
    ++at;
    return true;
  }
  bool word(std::string_view w) {
    if (s.substr(at, w.size()) != w) return false;
    at += w.size();
    return true;
  }
  bool digits() {
    const std::size_t from = at;
    while (peek() >= '0' && peek() <= '9') ++at;
    return at > from;
  }
  bool hex(char c) const {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  }

  bool string() {
    if (!take('"')) return false;
    while (!end()) {
      const unsigned char c = static_cast<unsigned char>(s[at++]);
      if (c == '"') return true;
      if (c < 0x20 || c >= 0x80) return false;
      if (c != '\\') continue;
      const char e = peek();
      ++at;
      if (e == 'u') {
        for (int i = 0; i < 4; ++i, ++at)
          if (end() || !hex(s[at])) return false;
      } else if (e != '"' && e != '\\' && e != '/' && e != 'b' && e != 'f' && e != 'n' && e != 'r' &&
                 e != 't') {
        return false;
      }
    }
    return false;
  }

  bool number() {
    take('-');
    if (take('0')) {
      if (peek() >= '0' && peek() <= '9') return false;  // no leading zeros
    } else if (!digits()) {
      return false;
    }
    if (take('.') && !digits()) return false;
    if (peek() == 'e' || peek() == 'E') {
      ++at;
      if (!take('+')) take('-');
      if (!digits()) return false;
    }
    return true;
  }

  template <typename Item>
  bool sequence(char close, Item item) {
    if (++depth > 64) return false;
    blanks();
    if (!take(close)) {
      do {
        blanks();
        if (!item()) return false;
        blanks();
      } while (take(','));
      if (!take(close)) return false;
    }
    --depth;
    return true;
  }

  void check_member(std::string_view key, std::string_view v, bool top, std::size_t index);

  bool value() {
    blanks();
    switch (peek()) {
      case '{': {
        ++at;
        const bool top = depth == 0;
        std::size_t index = 0;
        return sequence('}', [&] {
          const std::size_t key_at = at;
          if (!string()) return false;
          const std::string_view key = s.substr(key_at + 1, at - key_at - 2);
          blanks();
          if (!take(':')) return false;
          blanks();
          const std::size_t value_at = at;
          if (!value()) return false;
          if (members) check_member(key, s.substr(value_at, at - value_at), top, index++);
          return true;
        });
      }
      case '[': ++at; return sequence(']', [&] { return value(); });
      case '"': return string();
      case 't': return word("true");
      case 'f': return word("false");
      case 'n': return word("null");
      default: return number();
    }
  }
};

unsigned type_of(std::string_view v) {
  switch (v.empty() ? '\0' : v[0]) {
    case '"': return json_type::string;
    case '{': return json_type::object;
    case '[': return json_type::array;
    case 't':
    case 'f': return json_type::boolean;
    case 'n': return json_type::null;
    default: break;
  }
  return v.find_first_of(".eE") == std::string_view::npos ? json_type::integer : json_type::number;
}

void Parser::check_member(std::string_view key, std::string_view v, bool top, std::size_t index) {
  if (!problem.empty()) return;
  auto fail = [&](const char* why) { problem = "member \"" + std::string(key) + "\": " + why; };
  // The head of every top-level object: its tool, then the format.
  if (top && index == 0 && key != "tool") return fail("the first member is not \"tool\"");
  if (top && index == 1 && (key != "format" || v != std::to_string(json_format)))
    return fail("the second member is not \"format\" of this vocabulary");
  for (std::size_t i = 0; i < json_vocabulary_size; ++i) {
    if (key != json_vocabulary[i].name) continue;
    // A number member may hold an integer.
    unsigned types = json_vocabulary[i].types;
    if (types & json_type::number) types |= json_type::integer;
    if ((types & type_of(v)) == 0) fail("of a type the vocabulary does not give it");
    return;
  }
  fail("not in the vocabulary");
}

}  // namespace

// Name and types of every member, in the order of docs/json.md.
const JsonMember json_vocabulary[] = {
    // clang-format off
    // Every object of the top level.
    {"tool", json_type::object}, {"format", json_type::integer}, {"version", json_type::string | json_type::null},
    // Shared: what things are called, where they are, whether they pass.
    {"name", json_type::string}, {"path", json_type::string}, {"path_b", json_type::string},
    {"kind", json_type::string | json_type::null}, {"ok", json_type::boolean},
    {"error", json_type::string | json_type::null}, {"problem", json_type::string | json_type::null},
    {"problems", json_type::array}, {"header_problems", json_type::array},
    {"state", json_type::string | json_type::null}, {"state_meaning", json_type::string | json_type::null},
    {"reason", json_type::string | json_type::null}, {"verdict", json_type::string},
    {"ports", json_type::array | json_type::null}, {"port", json_type::integer}, {"code", json_type::integer},
    {"zone", json_type::object | json_type::null},
    // sav3-migrate --check.
    {"exit", json_type::integer | json_type::null}, {"marker", json_type::boolean}, {"lock", json_type::string},
    {"attempts", json_type::integer | json_type::null}, {"runs", json_type::integer | json_type::null}, {"run", json_type::string},
    {"attempt", json_type::integer}, {"why", json_type::string}, {"staging_volatile", json_type::boolean},
    {"tz", json_type::string | json_type::null}, {"read_as_utc", json_type::boolean},
    {"source", json_type::string | json_type::null},
    {"warnings", json_type::array}, {"what", json_type::string}, {"read", json_type::integer},
    {"expected", json_type::integer}, {"count", json_type::integer}, {"records", json_type::integer},
    {"sav2_by_hand", json_type::string | json_type::null}, {"room", json_type::array},
    {"need_kib", json_type::integer}, {"free_kib", json_type::integer}, {"need_inodes", json_type::integer},
    {"free_inodes", json_type::integer}, {"enough", json_type::boolean},
    {"plan", json_type::object}, {"holds", json_type::boolean}, {"failure", json_type::object | json_type::null},
    {"counted", json_type::boolean}, {"command", json_type::string}, {"removes", json_type::integer},
    {"copies", json_type::integer}, {"writes_over", json_type::integer}, {"kept_in_sav2", json_type::integer},
    {"before_image", json_type::object | json_type::null}, {"kept", json_type::boolean},
    {"entries", json_type::integer}, {"linked", json_type::integer}, {"copied", json_type::integer},
    {"bytes", json_type::integer},
    // sav3-migrate --status: `status`, `exit`, `state`, `runs`, `attempts`,
    // `failure` as above, and:
    {"written_by", json_type::object | json_type::null}, {"undo", json_type::object},
    {"possible", json_type::boolean},
    // sav3-inspect: a file, its fields.
    {"length", json_type::integer}, {"record_size", json_type::integer}, {"record_count", json_type::integer},
    {"record", json_type::integer}, {"fields", json_type::array}, {"offset", json_type::integer},
    {"width", json_type::integer}, {"type", json_type::string}, {"raw", json_type::integer},
    {"scale", json_type::integer}, {"value", json_type::number | json_type::null}, {"unit", json_type::string},
    {"bits", json_type::array}, {"bits_hex", json_type::string}, {"text", json_type::string},
    {"terminated", json_type::boolean}, {"hex", json_type::string}, {"time", json_type::string | json_type::null},
    {"secret", json_type::boolean}, {"set", json_type::boolean}, {"zero", json_type::boolean},
    {"word", json_type::integer}, {"float", json_type::number | json_type::null},
    // sav3-inspect --tree.
    {"inventory_problem", json_type::string | json_type::null}, {"files", json_type::array},
    {"checked", json_type::integer}, {"failed", json_type::integer},
    // sav3-inspect --diff.
    {"status", json_type::string}, {"a", json_type::object | json_type::null},
    {"b", json_type::object | json_type::null}, {"shown", json_type::string},
    {"records_differing", json_type::integer}, {"first_records", json_type::array},
    {"compared", json_type::integer}, {"differing", json_type::integer}, {"same", json_type::boolean},
    // The rehearsal (rehearse.sh --json, rehearsals.jsonl).
    {"replaced", json_type::boolean}, {"commands", json_type::array}, {"seconds", json_type::number},
    {"log", json_type::array}, {"check", json_type::object | json_type::null},
    {"baseline", json_type::object}, {"outputs", json_type::string}, {"differences", json_type::array},
    // clang-format on
};
const std::size_t json_vocabulary_size = std::size(json_vocabulary);

std::string vocabulary_problem(std::string_view text) {
  if (!valid_json_lines(text)) return "not JSON Lines";
  for (std::size_t line = 1; !text.empty(); ++line) {
    const std::size_t newline = text.find('\n');
    Parser p{text.substr(0, newline)};
    p.members = true;
    p.blanks();
    p.value();
    if (!p.problem.empty()) return "line " + std::to_string(line) + ": " + p.problem;
    text.remove_prefix(newline + 1);
  }
  return "";
}

bool valid_json_lines(std::string_view text) {
  if (text.empty() || text.back() != '\n') return false;
  while (!text.empty()) {
    const std::size_t newline = text.find('\n');
    Parser p{text.substr(0, newline)};
    p.blanks();
    if (p.peek() != '{' || !p.value()) return false;
    p.blanks();
    if (!p.end()) return false;
    text.remove_prefix(newline + 1);
  }
  return true;
}

}  // namespace sav3::inspect
