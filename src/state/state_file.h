// The state file /usr/sav3/.migration: read, and replaced whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "sav3/migration_state.h"

namespace sav3 {

struct StateInfo {
  State state;
  int attempts;  // pending: resumes started so far
  int runs;      // kept: full runs since the last "pending" (0 in a file without the line)
};
StateInfo read_state();

// The state file, opened only when it is a regular file and without
// blocking (a FIFO there would hang the boot). nullptr with errno: ENOENT
// for none, another error for a file that cannot be read.
[[nodiscard]] std::FILE* open_state_file();

// A new state file: begin_state writes its first line to the temporary file
// (a stale one, even a link, is removed first; the new one is created, never
// opened through a link); commit_state flushes it, renames it over the state
// file and flushes /usr/sav3. Both return false (and clean up) on any failure,
// with errno set where a call failed.
[[nodiscard]] std::FILE* begin_state(const char* first_line);
// `renamed`, when given, tells whether the new state is in place even when
// the folder's flush after the rename failed.
[[nodiscard]] bool commit_state(std::FILE* file, bool* renamed = nullptr);
void discard_state(std::FILE* file);
// After the count: the "version" line and the remembered failure's line.
[[nodiscard]] bool write_state_tail(std::FILE* file);
// commit_state when `written`, else discard_state (errno kept).
[[nodiscard]] bool finish_state(std::FILE* file, bool written);
// A state without count ("done"), with its tail.
[[nodiscard]] bool write_state(const char* format, ...) __attribute__((format(printf, 1, 2)));
// "kept <reason>" and its run count.
[[nodiscard]] bool write_kept(const char* reason, int runs);
// "abandoned <reason>", the attempt count and the manifest of the state file
// it replaces (a "pending" one).
[[nodiscard]] bool write_abandoned(const char* reason, int attempts);

// What --status reads beyond the state: the first line as it is (without its
// newline), and the tail lines (empty when the file has none: an older tool
// wrote it). Texts are escaped as in log lines.
struct StateRecord {
  char first_line[1024];
  char version[32];
  char no_undo[256];  // why the run kept no before-image ("" when it kept one)
  bool failed;
  char what[32];
  char path[512];
  char error[512];
};
StateRecord read_state_record();

// One manifest line.
struct ManifestEntry {
  char kind;  // 'd' folder, 'f' file, 'l' link
  std::uint64_t size;
  std::uint32_t crc;
  char path[4096];  // relative to the tree, unescaped
};

// Reading the manifest of a "pending" state file. Its paths are relative and
// plain (no empty, "." or ".." component) and each lies in a folder listed
// before it, so that no entry can name anything outside the tree.
struct ManifestReader {
  std::FILE* file;
  char line[4 * sizeof ManifestEntry{}.path + 64];  // an escaped path takes up to 4 bytes per byte
  char folder[sizeof ManifestEntry{}.path];         // the deepest folder listed so far
  std::size_t ends[256];                            // the lengths of its listed ancestors
  std::size_t depth;
};
// Opens the state file past its "attempts" line.
[[nodiscard]] bool open_manifest(ManifestReader& reader);
// 1: an entry; 0: the end; -1: a line that is not a manifest line or breaks
// the path rules.
[[nodiscard]] int next_manifest_entry(ManifestReader& reader, ManifestEntry& entry);
void close_manifest(ManifestReader& reader);
[[nodiscard]] bool write_manifest_entry(std::FILE* out, const ManifestEntry& entry);
// The manifest lines of the state file as they are, onto a new state.
[[nodiscard]] bool copy_manifest(std::FILE* out);
// The manifest holds only well-formed lines.
[[nodiscard]] bool manifest_well_formed();

}  // namespace sav3
