// The text readers of the legacy settings and records, each held against the
// C library routine that the old firmware used (or against the rule the
// helper promises): number texts, scanned words, lines of text files and
// timestamps. The first byte picks the reader; the rest is the text.
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>

#include "sav3/controller_record.h"
#include "sav3/convert.h"
#include "sav3/legacy_text.h"
#include "sav3/legacy_time.h"

using namespace sav3;

namespace {

[[noreturn]] void finding(const char* what) {
  std::fprintf(stderr, "text parsers: %s\n", what);
  std::abort();
}

bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// strtol of the 32-bit target: the value saturates at the signed 32-bit limits.
void check_number(std::string_view text) {
  const std::string c_text(text.substr(0, text.find('\0')));
  char* end = nullptr;
  errno = 0;
  const long long wide = std::strtoll(c_text.c_str(), &end, 10);
  const long long clamped = wide < INT32_MIN ? INT32_MIN : wide > INT32_MAX ? INT32_MAX : wide;
  const std::size_t used = static_cast<std::size_t>(end - c_text.c_str());
  std::size_t consumed = 99999;
  const std::int32_t value = parse_long32(text, &consumed);
  if (value != clamped) finding("parse_long32 differs from strtol's saturated value");
  if (consumed != used) finding("parse_long32 consumed a different number of characters than strtol");
}

// Every scanned word is the next run of non-blank characters, cut to 127.
void check_words(std::string_view text) {
  std::string_view rest = text;
  std::size_t at = 0;
  char word[128];
  for (int guard = 0; guard < 100000; ++guard) {
    while (at < text.size() && is_space(text[at])) ++at;
    std::size_t end = at;
    while (end < text.size() && !is_space(text[end])) ++end;
    std::memset(word, 'x', sizeof word);
    const bool got = scan_word(rest, word);
    if (got != (end > at)) finding("scan_word found a word where there is none, or missed one");
    if (!got) return;
    const std::string_view token = text.substr(at, end - at);
    const std::string_view kept = token.substr(0, 127);
    if (std::memcmp(word, kept.data(), kept.size()) != 0 || word[kept.size()] != '\0')
      finding("scan_word kept other characters than the first 127 of the word");
    if (rest.data() != text.data() + end) finding("scan_word did not consume exactly the whole word");
    at = end;
  }
  finding("scan_word does not make progress");
}

// The reads of a text file give back its bytes, in pieces of at most N - 1,
// each ending at a newline or where the buffer is full.
template <std::size_t N>
void check_lines(std::string_view text) {
  static char path[64];
  if (path[0] == '\0') std::snprintf(path, sizeof path, "/dev/shm/sav3-lines-%d", static_cast<int>(getpid()));
  std::FILE* f = std::fopen(path, "w");
  if (f == nullptr) return;
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
  f = std::fopen(path, "r");
  if (f == nullptr) return;
  const bool has_nul = text.find('\0') != std::string_view::npos;
  std::string joined;
  char line[N];
  while (read_line(f, line)) {
    const std::string_view piece = text_in(line, sizeof line);
    if (piece.size() > N - 1) finding("read_line delivered more than its buffer minus one");
    const std::size_t newline = piece.find('\n');
    if (newline != std::string_view::npos && newline + 1 != piece.size())
      finding("read_line delivered text past a newline");
    joined += piece;
  }
  std::fclose(f);
  std::remove(path);
  for (char c : line)
    if (c != '\0') finding("read_line left text in the buffer at the end of the file");
  if (!has_nul && joined != text) finding("the reads of a text file do not give back its bytes");
}

// The stored time is what strptime makes of the whole C text, for a text as
// long as the controller record that holds it at most, read in UTC (set once
// for the whole run), where every wall-clock time names exactly one instant.
void check_time(std::string_view text) {
  text = text.substr(0, controller_record::size);
  const std::string c_text(text.substr(0, text.find('\0')));
  std::tm tm;
  std::memset(&tm, 0, sizeof tm);
  std::int32_t expected = 0;
  if (strptime(c_text.c_str(), "%a %b %d %Y %X", &tm) != nullptr) {
    const long long s = static_cast<long long>(timegm(&tm));
    if (s >= INT32_MIN && s <= INT32_MAX) expected = static_cast<std::int32_t>(s);
  }
  if (legacy_time_seconds(text) != expected) finding("legacy_time_seconds differs from strptime in UTC");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("TZ", "UTC0", 1);
  tzset();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  switch (data[0] % 5) {
    case 0: check_number(text); break;
    case 1: check_words(text); break;
    case 2: check_lines<16>(text); break;
    case 3: check_lines<256>(text); break;
    default: check_time(text); break;
  }
  return 0;
}
