#include "json_check.h"

namespace sav3::inspect {

namespace {

struct Parser {
  std::string_view s;
  std::size_t at = 0;
  int depth = 0;

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

  bool value() {
    blanks();
    switch (peek()) {
      case '{':
        ++at;
        return sequence('}', [&] {
          if (!string()) return false;
          blanks();
          return take(':') && value();
        });
      case '[': ++at; return sequence(']', [&] { return value(); });
      case '"': return string();
      case 't': return word("true");
      case 'f': return word("false");
      case 'n': return word("null");
      default: return number();
    }
  }
};

}  // namespace

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
