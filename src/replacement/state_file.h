// The state file /usr/sav3/.migration: read, and replaced whole.
#pragma once

#include <cstdint>
#include <cstdio>

namespace sav3 {

enum class State { none, pending, done, kept, abandoned, unreadable };
struct StateInfo {
  State state;
  int attempts;
};
StateInfo read_state();

// A new state file: begin_state writes its first line to the temporary file;
// commit_state flushes it, renames it over the state file and flushes
// /usr/sav3. Both return false (and clean up) on any failure.
std::FILE* begin_state(const char* first_line);
bool commit_state(std::FILE* file);
void discard_state(std::FILE* file);
// A one-line state ("done", "kept <reason>" ...).
bool write_state(const char* format, ...) __attribute__((format(printf, 1, 2)));
// A full run starts without a state: the file (and a stale temporary one) is
// removed and /usr/sav3 flushed.
bool remove_state();

// One manifest line.
struct ManifestEntry {
  char kind;  // 'd' folder, 'f' file, 'l' link
  std::uint64_t size;
  std::uint32_t crc;
  char path[4096];  // relative to the tree, unescaped
};
// The state file open after its "attempts" line, ready for next_manifest_entry.
std::FILE* open_manifest();
// 1: an entry; 0: the end; -1: a line that is not a manifest line.
int next_manifest_entry(std::FILE* manifest, ManifestEntry& entry);
bool write_manifest_entry(std::FILE* out, const ManifestEntry& entry);
// The manifest lines of the state file as they are, onto a new state.
bool copy_manifest(std::FILE* out);

}  // namespace sav3
