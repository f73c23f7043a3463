// Texts inside legacy records and legacy text files.
//
// The old firmware wrote C texts into fixed records and did not always leave a
// terminator. Here a legacy text always ends at its first NUL or at the end of
// its record, whichever comes first, so no test or copy can read past a buffer.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "sav3/bytes.h"

namespace sav3 {

// The text that starts at `off`: up to its first NUL or the end of the record.
inline std::string_view text_at(ConstBytes record, std::size_t off) {
  if (off >= record.size()) return {};
  const char* p = reinterpret_cast<const char*>(record.data()) + off;
  std::size_t n = 0;
  const std::size_t room = record.size() - off;
  while (n < room && p[n] != '\0') ++n;
  return {p, n};
}

// Whether the text at `off` equals a literal (text_at(record, off) == literal),
// without measuring the text first: the literal's bytes, then a NUL or the end
// of the record.
inline bool text_is(ConstBytes record, std::size_t off, std::string_view literal) {
  if (off > record.size() || record.size() - off < literal.size()) return false;
  for (std::size_t i = 0; i < literal.size(); ++i)
    if (record[off + i] != static_cast<std::uint8_t>(literal[i])) return false;
  return off + literal.size() == record.size() || record[off + literal.size()] == 0;
}

// A C text held in a character buffer (a line read from a legacy text file):
// up to its first NUL or the end of the buffer.
inline std::string_view text_in(const char* buffer, std::size_t buffer_size) {
  std::size_t n = 0;
  while (n < buffer_size && buffer[n] != '\0') ++n;
  return {buffer, n};
}

// The fixed short answers (Yes, No, ON) count only when the NUL follows the
// word directly: "Yes " and "yes" are not Yes, and neither is a Yes that runs
// into the end of the record without a terminator.
inline bool answer_is(ConstBytes record, std::size_t off, std::string_view word) {
  return fits(record, off, word.size() + 1) && text_is(record, off, word);
}

// Substring search in a fault or mode list, bounded to its record.
inline bool text_contains(std::string_view text, std::string_view needle) {
  return text.find(needle) != std::string_view::npos;
}

// Drops one trailing newline (of the copy; the legacy buffer is never changed).
inline std::string_view without_newline(std::string_view text) {
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  return text;
}

// Copies a text into a new fixed-width field: at most `width` bytes (then
// without terminator); the rest of the field is zero.
inline void put_text(Bytes record, std::size_t off, std::size_t width, std::string_view text) {
  Bytes field = slice(record, off, width);
  std::size_t n = text.size() < field.size() ? text.size() : field.size();
  for (std::size_t i = 0; i < field.size(); ++i) field[i] = i < n ? static_cast<std::uint8_t>(text[i]) : 0;
}

// The next word of a line, as a scanned %s word: leading white space is
// skipped, then the whole run of non-blank characters is consumed, of which
// only the first 127 are kept (NUL-terminated in `word`). A long word never
// spills into the next one. Returns false when the line holds no further word.
inline bool scan_word(std::string_view& rest, char (&word)[128]) {
  auto is_space = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
  std::size_t i = 0;
  while (i < rest.size() && is_space(rest[i])) ++i;
  std::size_t n = 0;
  const std::size_t start = i;
  while (i < rest.size() && !is_space(rest[i])) {
    if (n < sizeof word - 1) word[n++] = rest[i];
    ++i;
  }
  word[n] = '\0';
  rest.remove_prefix(i);
  return i > start;
}

// One read of a legacy text file into a line buffer, as the old firmware read
// its text files: the buffer is cleared, then receives at most its size minus
// one characters, up to and including a newline, so a physical line longer
// than that arrives over several reads. At end of file (or on a read error, or
// with no file) the buffer is left empty and the result is false. The text of
// the read is text_in(buffer, N): it ends at its first NUL.
template <std::size_t N>
bool read_line(std::FILE* file, char (&buffer)[N]) {
  static_assert(N >= 2 && N <= 4096, "a line buffer holds at least one character");
  std::memset(buffer, 0, N);
  if (file != nullptr && std::fgets(buffer, static_cast<int>(N), file) != nullptr) return true;
  std::memset(buffer, 0, N);  // fgets leaves the buffer undefined after a read error
  return false;
}

}  // namespace sav3
