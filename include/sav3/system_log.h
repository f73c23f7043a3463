// The system log of a run: one line per decision, and the escaping of names
// in those lines (and in the manifest of the state file). The tool itself
// never prints.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string_view>

namespace sav3 {

// Receives one system-log line with its syslog priority (system_log in the
// tool; a recorder in tests).
using Logger = void (*)(int priority, const char* line);

// The system log: openlog("sav3-migrate", LOG_PID, LOG_USER) on first use, no
// console fallback.
void system_log(int priority, const char* line);

// Where the lines of this run go (nullptr: nowhere).
void set_logger(Logger log);
// One log line from a format of sav3/migration_state.h.
void note(int priority, const char* format, ...) __attribute__((format(printf, 2, 3)));

// A device path (or name) escaped for a log line or a state line.
struct Escaped {
  char text[512];
  operator const char*() const { return text; }
};
Escaped escaped(const char* name);
// The text of an error number: glibc's in the C locale for the errors the
// tool can meet, "error N" for others, whatever the C library.
const char* error_message(int error);
// The same, escaped.
Escaped error_text(int error);

// A name as it appears in log lines and manifests: bytes below 0x20, 0x7f,
// the backslash and bytes from 0x80 as \xNN. Returns false (and a truncated,
// terminated text) when out is too small.
bool escape_name(const char* name, char* out, std::size_t capacity);
// The reverse, in place; false on a malformed escape.
bool unescape_name(char* text);

// A string in double quotes: a quote or a backslash in it gets a backslash
// before it, a byte outside printable ASCII is written by the printf format
// `escape` ("\\x%02x"); json_string uses the JSON form \u00NN.
void quoted_string(std::FILE* out, std::string_view s, const char* escape);
void json_string(std::FILE* out, std::string_view s);

}  // namespace sav3
