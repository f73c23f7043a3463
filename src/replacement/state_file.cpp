// The state file /usr/sav3/.migration: read, and replaced whole.
#include "state_file.h"

#include <syslog.h>

#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <initializer_list>

#include "manifest.h"
#include "sav3/device.h"
#include "sav3/migration_state.h"
#include "sav3/system_log.h"
#include "tree.h"

namespace sav3 {

namespace {

// A manifest line holds an escaped path of up to 4 bytes per byte.
char g_line[4 * sizeof ManifestEntry{}.path + 64];

// Reads one line without its newline; false at the end or on a line too long.
bool read_line(std::FILE* file) {
  if (std::fgets(g_line, sizeof g_line, file) == nullptr) return false;
  const std::size_t n = std::strlen(g_line);
  if (n == 0 || g_line[n - 1] != '\n') return false;
  g_line[n - 1] = '\0';
  return true;
}

// The word followed by nothing or by a blank and a reason.
bool starts_state(const char* line, const char* word) {
  const std::size_t n = std::strlen(word);
  return std::strncmp(line, word, n) == 0 && (line[n] == '\0' || line[n] == ' ');
}

bool flush_staging_folder() {
  const int folder = open(host_path(path::staging), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) return false;
  const bool ok = fsync(folder) == 0;
  close(folder);
  return ok;
}

// Digits of a decimal or lower-case hexadecimal number; false when there are
// none or the value does not fit in 64 bits.
bool parse_number(const char*& p, std::uint64_t& value, unsigned base) {
  const char* start = p;
  value = 0;
  for (;; ++p) {
    unsigned digit = 16;
    if (*p >= '0' && *p <= '9') digit = static_cast<unsigned>(*p - '0');
    if (*p >= 'a' && *p <= 'f') digit = static_cast<unsigned>(*p - 'a' + 10);
    if (digit >= base) break;
    if (value > (UINT64_MAX - digit) / base) return false;
    value = value * base + digit;
  }
  return p != start;
}

}  // namespace

StateInfo read_state() {
  std::FILE* file = open_device_file(path::state, "rb");
  if (file == nullptr) return {errno == ENOENT ? State::none : State::unreadable, 0};
  StateInfo info{State::unreadable, 0};
  if (read_line(file)) {
    if (std::strcmp(g_line, state_word::done) == 0) {
      info.state = State::done;
    } else if (starts_state(g_line, state_word::kept)) {
      info.state = State::kept;
    } else if (starts_state(g_line, state_word::abandoned)) {
      info.state = State::abandoned;
    } else if (std::strcmp(g_line, state_word::pending) == 0 && read_line(file)) {
      const std::size_t n = std::strlen(state_word::attempts);
      const char* p = g_line + n + 1;
      std::uint64_t attempts = 0;
      if (std::strncmp(g_line, state_word::attempts, n) == 0 && g_line[n] == ' ' &&
          parse_number(p, attempts, 10) && *p == '\0' && attempts <= max_attempts)
        info = {State::pending, static_cast<int>(attempts)};
    }
  }
  std::fclose(file);
  return info;
}

std::FILE* begin_state(const char* first_line) {
  std::FILE* file = open_device_file(path::state_temp, "wb");
  if (file == nullptr) return nullptr;
  std::fprintf(file, "%s\n", first_line);
  return file;
}

bool commit_state(std::FILE* file) {
  bool ok = std::fflush(file) == 0 && std::ferror(file) == 0 && fsync(fileno(file)) == 0;
  if (std::fclose(file) != 0) ok = false;
  if (ok) ok = std::rename(host_path(path::state_temp), host_path(path::state)) == 0;
  if (!ok) {
    std::remove(host_path(path::state_temp));
    return false;
  }
  return flush_staging_folder();
}

void discard_state(std::FILE* file) {
  std::fclose(file);
  std::remove(host_path(path::state_temp));
}

bool copy_manifest(std::FILE* out) {
  std::FILE* manifest = open_manifest();
  if (manifest == nullptr) return false;
  bool ok = true;
  while (ok && std::fgets(g_line, sizeof g_line, manifest) != nullptr) ok = std::fputs(g_line, out) >= 0;
  if (std::ferror(manifest)) ok = false;
  std::fclose(manifest);
  return ok;
}

bool write_state(const char* format, ...) {
  char line[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  std::FILE* file = begin_state(line);
  if (file == nullptr || !commit_state(file)) {
    note(LOG_ERR, log_line::state_not_written, line);
    return false;
  }
  return true;
}

bool remove_state() {
  bool ok = true;
  for (const char* p : {path::state, path::state_temp}) {
    if (std::remove(host_path(p)) != 0 && errno != ENOENT) ok = false;
  }
  return flush_staging_folder() && ok;
}

std::FILE* open_manifest() {
  std::FILE* file = open_device_file(path::state, "rb");
  if (file == nullptr) return nullptr;
  if (!read_line(file) || !read_line(file)) {
    std::fclose(file);
    return nullptr;
  }
  return file;
}

int next_manifest_entry(std::FILE* manifest, ManifestEntry& entry) {
  if (std::fgets(g_line, sizeof g_line, manifest) == nullptr) return std::feof(manifest) ? 0 : -1;
  const std::size_t n = std::strlen(g_line);
  if (n == 0 || g_line[n - 1] != '\n') return -1;
  g_line[n - 1] = '\0';
  const char* p = g_line;
  entry.size = 0;
  entry.crc = 0;
  if (std::strncmp(p, "dir ", 4) == 0) {
    entry.kind = 'd';
    p += 4;
  } else {
    const bool file = std::strncmp(p, "file ", 5) == 0;
    if (!file && std::strncmp(p, "link ", 5) != 0) return -1;
    entry.kind = file ? 'f' : 'l';
    p += 5;
    std::uint64_t crc = 0;
    if (!parse_number(p, entry.size, 10) || *p++ != ' ') return -1;
    const char* crc_start = p;
    if (!parse_number(p, crc, 16) || p - crc_start != 8 || *p++ != ' ') return -1;
    entry.crc = static_cast<std::uint32_t>(crc);
  }
  if (*p == '\0' || std::strlen(p) >= sizeof entry.path) return -1;
  std::strcpy(entry.path, p);
  return unescape_name(entry.path) && entry.path[0] != '/' ? 1 : -1;
}

bool write_manifest_entry(std::FILE* out, const ManifestEntry& entry) {
  if (!escape_name(entry.path, g_line, sizeof g_line)) return false;
  if (entry.kind == 'd') return std::fprintf(out, "%s %s\n", state_word::dir, g_line) > 0;
  return std::fprintf(out, "%s %" PRIu64 " %08" PRIx32 " %s\n",
                      entry.kind == 'f' ? state_word::file : state_word::link, entry.size, entry.crc,
                      g_line) > 0;
}

}  // namespace sav3
