// The state file /usr/sav3/.migration: read, and replaced whole.
//
// Why every step is flushed: a power cut keeps what reached the medium, and
// a rename reaches it only with the folder that holds the name. Without the
// file's flush before the rename, the file system may keep the new name over
// an empty or short file (ext4 without its rename heuristic, f2fs); without
// the folder's flush after it, it may keep the old state, and a run that
// already deleted the live trees would look like one that never started.
#include "state_file.h"

#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstring>
#include <initializer_list>
#include <iterator>

#include "sav3/device.h"
#include "sav3/look.h"
#include "sav3/migration_state.h"
#include "sav3/system_log.h"
#include "sav3/version.h"

namespace sav3 {

namespace {

// The failure that the next state written records ("" when none).
struct RememberedFailure {
  char what[32];
  char path[sizeof Escaped{}.text];
  char error[sizeof Escaped{}.text];
};
RememberedFailure g_failure;
// Why the run keeps no before-image ("" when it keeps one, or none is due).
char g_no_undo[sizeof Escaped{}.text];

// Reads one line without its newline; false at the end or on a line too long.
// The file's last line may lack its newline (an editor, a hand-made state):
// "runs 3" at the very end is still three runs.
template <std::size_t N>
bool read_line(std::FILE* file, char (&line)[N]) {
  if (std::fgets(line, N, file) == nullptr) return false;
  const std::size_t n = std::strlen(line);
  if (n == 0) return false;
  if (line[n - 1] == '\n') {
    line[n - 1] = '\0';
    return true;
  }
  return std::feof(file) != 0;
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

// "WORD N" with N a decimal number not above `most`.
bool counted_line(const char* line, const char* word, int most, int& value) {
  const std::size_t n = std::strlen(word);
  if (std::strncmp(line, word, n) != 0 || line[n] != ' ') return false;
  const char* p = line + n + 1;
  std::uint64_t number = 0;
  if (!parse_number(p, number, 10) || *p != '\0' || number > static_cast<std::uint64_t>(most)) return false;
  value = static_cast<int>(number);
  return true;
}

// A "version" or "failure" line (they follow the count, before the manifest).
bool tail_line(const char* line) {
  return starts_state(line, state_word::version) || starts_state(line, state_word::failure) ||
         starts_state(line, state_word::undo);
}

// Skips the "version" and "failure" lines at the reading position; false on
// a read error or a line too long.
bool skip_tail_lines(std::FILE* file) {
  char line[sizeof Escaped{}.text * 2 + 64];
  for (;;) {
    const long at = std::ftell(file);
    if (at < 0) return false;
    if (std::fgets(line, sizeof line, file) == nullptr) return !std::ferror(file);
    if (!tail_line(line)) return std::fseek(file, at, SEEK_SET) == 0;
    if (std::strchr(line, '\n') == nullptr) return false;
  }
}

// The path rules of a manifest entry (see ManifestReader).
bool plain_path(ManifestReader& r, const ManifestEntry& entry) {
  const char* p = entry.path;
  if (*p == '/' || *p == '\0') return false;
  for (const char* c = p;;) {
    const char* end = std::strchr(c, '/');
    const std::size_t n = end ? static_cast<std::size_t>(end - c) : std::strlen(c);
    if (n == 0 || (n == 1 && c[0] == '.') || (n == 2 && c[0] == '.' && c[1] == '.')) return false;
    if (end == nullptr) break;
    c = end + 1;
  }
  // Its folder: "" for a top-level entry, else a listed folder on the chain
  // of the deepest folder listed so far (the manifest lists depth first).
  const char* slash = std::strrchr(p, '/');
  const std::size_t parent = slash ? static_cast<std::size_t>(slash - p) : 0;
  while (r.depth > 0 && !(r.ends[r.depth - 1] == parent && std::strncmp(r.folder, p, parent) == 0)) --r.depth;
  if (parent != 0 && r.depth == 0) return false;
  if (entry.kind == 'd') {
    if (r.depth == std::size(r.ends)) return false;
    std::strcpy(r.folder, p);
    r.ends[r.depth++] = std::strlen(p);
  }
  return true;
}

}  // namespace

State state_of_line(const char* line) {
  if (std::strcmp(line, state_word::done) == 0) return State::done;
  if (std::strcmp(line, state_word::pending) == 0) return State::pending;
  if (starts_state(line, state_word::kept)) return State::kept;
  if (starts_state(line, state_word::abandoned)) return State::abandoned;
  if (std::strcmp(line, state_word::rolling_back) == 0) return State::rolling_back;
  if (std::strcmp(line, state_word::rolled_back) == 0) return State::rolled_back;
  return State::unreadable;
}

const char* state_meaning_of(State state) {
  switch (state) {
    case State::none: break;
    case State::done: return "the live trees hold the staging tree";
    case State::pending:
      return "the live trees are not fully replaced yet; the next run finishes the replacement";
    case State::kept: return "the live trees kept their old data";
    case State::abandoned: return "the replacement of the live trees was given up; they may be half replaced";
    case State::rolling_back:
      return "the migration is being undone; the next boot or --rollback finishes putting the old data back";
    case State::rolled_back: return "the migration was undone: the device holds its data from before it";
    case State::unreadable: return "not a state the migration writes";
  }
  return nullptr;
}

// The state file, opened only when it is a regular file and without
// blocking (a FIFO there would hang the boot). nullptr with errno: ENOENT
// for none, another error for a file that cannot be read.
std::FILE* open_state_file() {
  Look look;
  const int fd = open_regular(path::state, look);
  if (fd < 0) {
    errno = look.seen == Seen::absent ? ENOENT : (look.error > 0 ? look.error : EINVAL);
    return nullptr;
  }
  std::FILE* file = fdopen(fd, "rb");
  if (file == nullptr) close(fd);
  return file;
}

StateInfo read_state() {
  std::FILE* file = open_state_file();
  if (file == nullptr) return {errno == ENOENT ? State::none : State::unreadable, 0, 0};
  StateInfo info{State::unreadable, 0, 0};
  char line[1024];
  if (read_line(file, line)) {
    info.state = state_of_line(line);
    if (info.state == State::kept) {
      // A file written before the count was kept has no second line.
      if (read_line(file, line) && !counted_line(line, state_word::runs, 1000000, info.runs))
        info.state = State::unreadable;
    } else if (info.state == State::abandoned) {
      // An older tool wrote the first line only.
      if (read_line(file, line) && !counted_line(line, state_word::attempts, max_attempts, info.attempts))
        info.attempts = 0;
    } else if (info.state == State::pending &&
               !(read_line(file, line) &&
                 counted_line(line, state_word::attempts, max_attempts, info.attempts))) {
      info.state = State::unreadable;
    }
  }
  std::fclose(file);
  if (info.state == State::pending && !manifest_well_formed()) info.state = State::unreadable;
  return info;
}

std::FILE* begin_state(const char* first_line) {
  const HostPath temp = host_path(path::state_temp);
  // A stale temporary file (a cut before its rename) goes first; were it a
  // link, opening it would write through it.
  if (unlink(temp) != 0 && errno != ENOENT) return nullptr;
  const int fd = open(temp, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return nullptr;
  std::FILE* file = fdopen(fd, "wb");
  if (file == nullptr) {
    close(fd);
    static_cast<void>(unlink(temp));  // may be dropped: the next state removes a stale one first
    return nullptr;
  }
  std::fprintf(file, "%s\n", first_line);
  return file;
}

bool commit_state(std::FILE* file, bool* renamed) {
  if (renamed != nullptr) *renamed = false;
  bool ok = std::fflush(file) == 0 && std::ferror(file) == 0 && fsync(fileno(file)) == 0;
  const int error = errno;
  if (std::fclose(file) != 0) ok = false;
  if (ok) ok = std::rename(host_path(path::state_temp), host_path(path::state)) == 0;
  if (!ok) {
    const int failed = errno != 0 ? errno : error;
    // May be dropped: the next state removes a stale temporary file first.
    static_cast<void>(std::remove(host_path(path::state_temp)));
    errno = failed;
    return false;
  }
  if (renamed != nullptr) *renamed = true;
  return flush_staging_folder();
}

namespace {
// Commits a state of one or two lines and logs what became of it. A state
// renamed into place whose folder could not be flushed is the state now (it
// may not survive a cut): said so, and taken as written.
// `written`: every line after the first reached the file.
bool commit_logged(std::FILE* file, bool written, const char* line) {
  bool renamed = false;
  if (file != nullptr) {
    if (!written) {
      const int error = errno != 0 ? errno : EIO;
      discard_state(file);
      errno = error;
    } else if (commit_state(file, &renamed)) {
      return true;
    }
  }
  const int error = errno;
  note(LOG_ERR, renamed ? log_line::state_not_flushed : log_line::state_not_written, escaped(line).text,
       error_text(error).text);
  return renamed;
}
}  // namespace

void discard_state(std::FILE* file) {
  // Both may be dropped: the file is abandoned, and the next state removes a
  // stale temporary file first.
  static_cast<void>(std::fclose(file));
  static_cast<void>(std::remove(host_path(path::state_temp)));
}

bool open_manifest(ManifestReader& reader) {
  reader.file = open_state_file();
  reader.depth = 0;
  if (reader.file == nullptr) return false;
  int attempts = 0;
  if (!read_line(reader.file, reader.line) || !read_line(reader.file, reader.line) ||
      !counted_line(reader.line, state_word::attempts, max_attempts, attempts) ||
      !skip_tail_lines(reader.file)) {
    close_manifest(reader);
    return false;
  }
  return true;
}

void close_manifest(ManifestReader& reader) {
  if (reader.file != nullptr) std::fclose(reader.file);
  reader.file = nullptr;
}

bool copy_manifest(std::FILE* out) {
  ManifestReader reader;
  if (!open_manifest(reader)) return false;
  bool ok = true;
  while (ok && std::fgets(reader.line, sizeof reader.line, reader.file) != nullptr)
    ok = std::fputs(reader.line, out) >= 0;
  if (std::ferror(reader.file)) ok = false;
  close_manifest(reader);
  return ok;
}

bool manifest_well_formed() {
  ManifestReader reader;
  if (!open_manifest(reader)) return false;
  ManifestEntry entry;
  int read = 0;
  while ((read = next_manifest_entry(reader, entry)) == 1) {
  }
  close_manifest(reader);
  return read == 0;
}

void remember_failure(const char* what, const char* path, const char* error) {
  std::snprintf(g_failure.what, sizeof g_failure.what, "%s", what);
  std::snprintf(g_failure.path, sizeof g_failure.path, "%s", path[0] != '\0' ? path : "-");
  std::snprintf(g_failure.error, sizeof g_failure.error, "%s", error[0] != '\0' ? error : "-");
}

void forget_failure() {
  g_failure = RememberedFailure{};
  g_no_undo[0] = '\0';
}

void remember_no_undo(const char* reason) { std::snprintf(g_no_undo, sizeof g_no_undo, "%s", reason); }

bool write_state_tail(std::FILE* file) {
  if (std::fprintf(file, "%s %s\n", state_word::version, version) < 0) return false;
  if (g_no_undo[0] != '\0' && std::fprintf(file, "%s none: %s\n", state_word::undo, g_no_undo) < 0)
    return false;
  return g_failure.what[0] == '\0' || std::fprintf(file, "%s %s: %s: %s\n", state_word::failure,
                                                   g_failure.what, g_failure.path, g_failure.error) >= 0;
}

StateRecord read_state_record() {
  StateRecord record{};
  std::FILE* file = open_state_file();
  if (file == nullptr) return record;
  char line[sizeof Escaped{}.text * 2 + 64];
  // Longer texts are cut: they only inform.
  auto keep = [](char* to, std::size_t capacity, const char* from, std::size_t n) {
    n = n < capacity ? n : capacity - 1;
    std::memcpy(to, from, n);
    to[n] = '\0';
  };
  // The first line, the count, then the tail lines.
  for (int n = 0; n < 5 && read_line(file, line); ++n) {
    if (n == 0) {
      keep(record.first_line, sizeof record.first_line, line, std::strlen(line));
    } else if (starts_state(line, state_word::version)) {
      const char* text = line + sizeof state_word::version;
      keep(record.version, sizeof record.version, text, std::strlen(text));
    } else if (starts_state(line, state_word::undo)) {
      const char* text = line + sizeof state_word::undo;
      if (std::strncmp(text, "none: ", 6) == 0) text += 6;
      keep(record.no_undo, sizeof record.no_undo, text, std::strlen(text));
    } else if (starts_state(line, state_word::failure)) {
      // WHAT: PATH: ERROR; the path may hold ": ", the other two never do.
      const char* text = line + sizeof state_word::failure;
      const char* first = std::strstr(text, ": ");
      const char* last = nullptr;
      for (const char* p = first; p != nullptr; p = std::strstr(p + 1, ": ")) last = p;
      if (first == nullptr || last == first) continue;
      record.failed = true;
      keep(record.what, sizeof record.what, text, static_cast<std::size_t>(first - text));
      keep(record.path, sizeof record.path, first + 2, static_cast<std::size_t>(last - first - 2));
      keep(record.error, sizeof record.error, last + 2, std::strlen(last + 2));
    }
  }
  std::fclose(file);
  return record;
}

bool finish_state(std::FILE* file, bool written) {
  if (written) return commit_state(file);  // closes the file whatever it returns
  const int error = errno != 0 ? errno : EIO;
  discard_state(file);
  errno = error;
  return false;
}

bool write_abandoned(const char* reason, int attempts) {
  char line[1024];
  std::snprintf(line, sizeof line, "%s %s", state_word::abandoned, reason);
  std::FILE* file = begin_state(line);
  // The manifest stays: --retry checks the staging tree against it.
  return commit_logged(file,
                       file != nullptr &&
                           std::fprintf(file, "%s %d\n", state_word::attempts, attempts) >= 0 &&
                           write_state_tail(file) && copy_manifest(file),
                       line);
}

bool write_state(const char* format, ...) {
  char line[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  std::FILE* file = begin_state(line);
  return commit_logged(file, file != nullptr && write_state_tail(file), line);
}

bool write_kept(const char* reason, int runs) {
  char line[1024];
  std::snprintf(line, sizeof line, "%s %s", state_word::kept, reason);
  std::FILE* file = begin_state(line);
  return commit_logged(
      file,
      file != nullptr && std::fprintf(file, "%s %d\n", state_word::runs, runs) >= 0 && write_state_tail(file),
      line);
}

int next_manifest_entry(ManifestReader& reader, ManifestEntry& entry) {
  char* line = reader.line;
  if (std::fgets(line, sizeof reader.line, reader.file) == nullptr) return std::feof(reader.file) ? 0 : -1;
  const std::size_t n = std::strlen(line);
  if (n == 0 || line[n - 1] != '\n') return -1;
  line[n - 1] = '\0';
  const char* p = line;
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
  return unescape_name(entry.path) && plain_path(reader, entry) ? 1 : -1;
}

bool write_manifest_entry(std::FILE* out, const ManifestEntry& entry) {
  char line[sizeof ManifestReader{}.line];
  if (!escape_name(entry.path, line, sizeof line)) return false;
  if (entry.kind == 'd') return std::fprintf(out, "%s %s\n", state_word::dir, line) > 0;
  return std::fprintf(out, "%s %" PRIu64 " %08" PRIx32 " %s\n",
                      entry.kind == 'f' ? state_word::file : state_word::link, entry.size, entry.crc,
                      line) > 0;
}

}  // namespace sav3
