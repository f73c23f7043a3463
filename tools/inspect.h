// The record inspector: checks and decodes the headed record files that the
// migration writes, one file at a time or a whole staging tree.
//
// Runs on the device as well as on the host: stdio only, no exceptions, and
// every read of a file's bytes is bounds-checked, so a damaged or hostile file
// gives a message, never a crash.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <vector>

#include "sav3/bytes.h"
#include "sav3/container.h"
#include "sav3/layout.h"
#include "sav3/output_files.h"

namespace sav3::inspect {

// ---------------------------------------------------------------------------
// The kinds of file: the migration's table of output files, with the folder
// and the naming of each path. The tree check and the kind of a single file
// both come from it.

enum class Folder : std::uint8_t { data, cfg, history };

enum class Naming : std::uint8_t {
  fixed,       // a fixed file name ("device", "email", ...)
  controller,  // "port0"
  port,        // "port%d" of a module port 1..4
  subport,     // "subport%d" of a module port 1..4
};

struct FileKind : OutputFile {
  Folder folder;
  Naming naming;
  const char* file;  // the name in its folder ("email", "port0", "port%d")
};

std::span<const FileKind> file_kinds();

const char* folder_name(Folder f);

// The name of a module type code ("LQ", "K3", "empty").

// The type code that byte 0 of a kind's records holds.
std::uint8_t type_code_of(const FileKind& k);

// The name of a kind's file in the tree ("data/port1").
void file_name_of(const FileKind& k, unsigned port, char* out, std::size_t n);

// ---------------------------------------------------------------------------
// The 30-byte header.

// The header check is the container's (next to its writer).
namespace problem = sav3::header_problem;
using sav3::check_header;
using sav3::HeaderCheck;

// One line of text (no newline) for one problem bit of a check.
void describe_problem(const HeaderCheck& check, std::uint32_t bit, char* out, std::size_t out_size);

// ---------------------------------------------------------------------------
// The kind of a file, from its path, its header and its first record.

struct PathParts {
  bool folder_known = false;
  Folder folder = Folder::data;
  char file[64] = {};
  bool numbered = false;  // "port%d" or "subport%d"
  bool sub = false;       // "subport%d"
  unsigned port = 0;
};
PathParts parse_path(const char* path);

// True when the bytes cannot be a headed record file at all (shorter than a
// header, or no magic byte and a non-zero reserved header area) rather than a
// damaged one.
bool not_headed(const HeaderCheck& check);

// The kind of the file, or null with the reason in `why`.
const FileKind* identify(const PathParts& where, const HeaderCheck& check, ConstBytes file, char* why,
                         std::size_t why_size);

// ---------------------------------------------------------------------------
// The inspector proper. Each prints its report to `out` and returns a status:
// 0 when everything holds, 1 when a check fails, 2 when a file cannot be read
// (said on `err` as well).

namespace status {
inline constexpr int ok = 0;
inline constexpr int failed = 1;
inline constexpr int trouble = 2;  // usage, an unreadable file, a failed write
}  // namespace status

struct Options {
  bool json = false;
  bool show_secrets = false;  // passwords, communities, keys in clear
  long record = -1;           // the record of a history to decode; -1: the first
};

std::vector<std::uint8_t> load_file(const char* path, int& error);  // error: 0 or errno

int inspect_file(std::FILE* out, std::FILE* err, const char* path, const Options& options);

// The files the migration writes for a device inventory (ports 1..4 by the
// type codes at inventory bytes 1..4), as folder-relative names such as
// "data/port1".
struct ExpectedFile {
  const FileKind* kind;
  unsigned port;  // 1..4 for a per-port file, else 0
  char name[sizeof(PathName::text)];
};
std::size_t expected_files(ConstBytes inventory, std::span<ExpectedFile> out);

int inspect_tree(std::FILE* out, std::FILE* err, const char* dir, const Options& options);

// Compares two headed record files of one kind, or two staging trees (every
// file under them, by its path): prints the files on one side only, and per
// file that differs the fields that differ (both values as inspect_file shows
// them; a secret's only with show_secrets), in a history how many records
// differ and the first of them; a file that does not decode whole (not
// headed, of no known kind, another kind on each side, damaged in size) is
// compared as bytes. Returns 0 same, 1 different, 2 when a file or folder
// cannot be read.
int inspect_diff(std::FILE* out, std::FILE* err, const char* a, const char* b, const Options& options);

// The command line of sav3-inspect (getopt_long: options anywhere, "--" ends
// them): the status of the run, the highest of all files; 2 as well when
// writing `out` failed.
int inspect_command(int argc, char** argv, std::FILE* out, std::FILE* err);

}  // namespace sav3::inspect
