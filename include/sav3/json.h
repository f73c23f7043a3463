// The JSON that the tools print for scripts: one vocabulary (docs/json.md).
// Every object that a tool prints at the top level opens with its `tool`
// (name and version) and the vocabulary's `format`; `Json` writes the
// members after them.
#pragma once

#include <cinttypes>
#include <cstdint>
#include <cstdio>

#include "sav3/system_log.h"

namespace sav3 {

// The version of the vocabulary: raised when a member changes its name,
// type or meaning (new members do not raise it).
inline constexpr int json_format = 1;

// Opens a top-level object: {"tool":{"name":NAME,"version":VERSION},"format":N
void json_head(std::FILE* out, const char* tool);

// The members of one object: the comma before every member but the first.
struct Json {
  std::FILE* out;
  bool first = true;
  void key(const char* name) {
    std::fputs(first ? "" : ",", out);
    first = false;
    json_string(out, name);
    std::fputc(':', out);
  }
  void text(const char* name, const char* value) {
    key(name);
    if (value == nullptr)
      std::fputs("null", out);
    else
      json_string(out, value);
  }
  void number(const char* name, std::uint64_t value) {
    key(name);
    std::fprintf(out, "%" PRIu64, value);
  }
  void yes_no(const char* name, bool value) {
    key(name);
    std::fputs(value ? "true" : "false", out);
  }
  // A port: {"port":N,"code":C,"name":"LQ"}.
  void port(unsigned port, std::uint8_t code);
};

}  // namespace sav3
