// The system log lines of a run and the escaping of names in them.
#include "sav3/system_log.h"

#include <syslog.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "sav3/device.h"
#include "sav3/json.h"
#include "sav3/version.h"

namespace sav3 {

namespace {
Logger g_log = nullptr;

bool needs_escape(unsigned char c) { return c < 0x20 || c == 0x7f || c == '\\' || c >= 0x80; }

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}
}  // namespace

void system_log(int priority, const char* line) {
  static bool opened = false;
  if (!opened) {
    openlog("sav3-migrate", LOG_PID, LOG_USER);
    opened = true;
  }
  syslog(priority, "%s", line);
}

void set_logger(Logger log) { g_log = log; }

void note(int priority, const char* format, ...) {
  if (g_log == nullptr) return;
  char line[2048];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  g_log(priority, line);
}

bool escape_name(const char* name, char* out, std::size_t capacity) {
  static constexpr char digits[] = "0123456789ABCDEF";
  if (capacity == 0) return false;
  std::size_t n = 0;
  for (const char* p = name; *p != '\0'; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    const std::size_t width = needs_escape(c) ? 4 : 1;
    if (n + width >= capacity) {
      out[n] = '\0';
      return false;
    }
    if (width == 1) {
      out[n++] = *p;
    } else {
      out[n++] = '\\';
      out[n++] = 'x';
      out[n++] = digits[c >> 4];
      out[n++] = digits[c & 0xf];
    }
  }
  out[n] = '\0';
  return true;
}

bool unescape_name(char* text) {
  char* out = text;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p != '\\') {
      *out++ = *p;
      continue;
    }
    if (p[1] != 'x') return false;
    const int high = hex_value(p[2]);
    const int low = high < 0 ? -1 : hex_value(p[3]);
    if (low < 0 || (high == 0 && low == 0)) return false;
    *out++ = static_cast<char>(high * 16 + low);
    p += 3;
  }
  *out = '\0';
  return true;
}

Escaped error_text(int error) {
  // strerror in the static tool is the C locale's text.
  return escaped(std::strerror(error));
}

Escaped escaped(const char* name) {
  Escaped e;
  escape_name(name, e.text, sizeof e.text);
  return e;
}

void quoted_string(std::FILE* out, std::string_view s, const char* escape) {
  std::fputc('"', out);
  for (const unsigned char c : s) {
    if (c == '"' || c == '\\')
      std::fprintf(out, "\\%c", c);
    else if (c < 0x20 || c >= 0x7F)
      std::fprintf(out, escape, c);
    else
      std::fputc(c, out);
  }
  std::fputc('"', out);
}

void json_string(std::FILE* out, std::string_view s) { quoted_string(out, s, "\\u%04x"); }

void json_head(std::FILE* out, const char* tool) {
  std::fputs("{\"tool\":{\"name\":", out);
  json_string(out, tool);
  std::fputs(",\"version\":", out);
  json_string(out, version);
  std::fprintf(out, "},\"format\":%d", json_format);
}

void Json::port(unsigned number, std::uint8_t code) {
  std::fprintf(out, "%s{\"port\":%u,\"code\":%u,\"name\":", first ? "" : ",", number, code);
  first = false;
  json_string(out, module_name(code));
  std::fputc('}', out);
}

}  // namespace sav3
