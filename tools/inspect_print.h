// The printers of the inspector's reports: one per form (text for people,
// JSON Lines for scripts) behind one table of functions. The reports work out
// every fact once and hand it to the printer; only the printer knows the
// form.
//
// A field's value is told in leaves:
//   text   "  offset width  label   first fact  (further facts, ...)"
//   JSON   {"name":label,"offset":...,"width":...,"type":...,"key":value,...}
// A leaf given no text phrase is left out of the text form, one given no key
// out of the JSON form.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string_view>

#include "inspect.h"
#include "sav3/system_log.h"

namespace sav3::inspect {

struct Printer;

// Where a report goes, in which form, and where the form is in it.
struct Out {
  std::FILE* file;
  const Printer* print;
  unsigned items = 0;      // items of the current list so far (JSON: the comma before the next)
  unsigned facts = 0;      // facts of the current field in the text form
  bool list_open = false;  // JSON: a list of the current object is open
};

// The head of a tree's report: the inventory's type codes of ports 1..4 and
// their module names (null when the inventory cannot be used;
// `inventory_problem` says why, `damaged`: it was read but fails its check)
// and the migration's state (null: no state file) with its meaning.
struct TreeHead {
  const char* dir;
  const std::uint8_t* ports;
  const char* port_names[5];
  const char* inventory_problem;
  bool damaged;
  const char* state;
  const char* state_meaning;
};

// One difference of a field between two files: its label, the record (-1 in
// a file of one record), both values as the inspector shows them (null: a
// secret not shown) and as the JSON members of the file report (each after
// a comma), and in a history how many records differ in it.
struct FieldDifference {
  const char* label;
  long record;
  const char* a;
  const char* b;
  const char* a_members;
  const char* b_members;
  bool secret;
  std::uint32_t records;
};

// The status of a file in a comparison.
enum class DiffStatus : std::uint8_t { only_in_a, only_in_b, differs, bytes_differ };
const char* diff_status_name(DiffStatus s);

struct Printer {
  // --- The leaves of one field's value.
  void (*begin_field)(Out&, const char* label, std::size_t offset, unsigned width, const char* type);
  void (*end_field)(Out&);
  // An integer: decimal in both forms, in text after `prefix` (null: JSON only).
  void (*integer)(Out&, const char* key, long long v, const char* prefix);
  // A bit field: decimal in JSON, `digits` hex digits after 0x in text.
  void (*hex_integer)(Out&, const char* key, std::uint32_t v, int digits);
  // A 32-bit word's bits: 8 hex digits, a JSON string, after 0x in text.
  void (*hex_word)(Out&, const char* key, std::uint32_t v);
  // A number already formatted (valid JSON), with its unit ("" for none): in
  // JSON the unit is a member of its own.
  void (*number)(Out&, const char* key, const char* v, const char* unit);
  // A float: null in JSON when it is no finite number; in text after `prefix`.
  void (*real)(Out&, const char* key, double v, const char* prefix);
  // The numbers of the set bits: a list in JSON, "bits 0 1" in text (left out
  // of the text when none is set).
  void (*bits)(Out&, const char* key, std::uint32_t v);
  // A phrase that may be missing: a JSON string, or null; in text as it is,
  // or `missing`.
  void (*phrase)(Out&, const char* key, const char* v, const char* missing);
  // A text: a JSON string, or quoted in text.
  void (*string)(Out&, const char* key, std::string_view v);
  // Bytes: hex digits in JSON; in text `phrase` (left out when empty) or,
  // when it is null, hex pairs: the first few, then "..." when there are more.
  void (*hex)(Out&, const char* key, ConstBytes b, const char* phrase);
  // A yes or no: true or false in JSON, `phrase` in text (left out when null).
  void (*flag)(Out&, const char* key, bool v, const char* phrase);
  // A remark of the text form only.
  void (*note)(Out&, const char* phrase);

  // --- The report of one file.
  // A file that cannot be read (said on the error stream as well).
  void (*unreadable_file)(Out&, const char* path, const char* error);
  // Bytes that are no headed record file at all, and why.
  void (*not_headed_file)(Out&, const char* path, std::uint64_t length, const char* why);
  // The head: its kind (null: unknown) and its header's record size and count.
  void (*begin_file)(Out&, const char* path, const char* kind, const HeaderCheck& check);
  // A list of problems under the JSON member `key`.
  void (*begin_problems)(Out&, const char* key);
  void (*problem)(Out&, const char* line);
  void (*end_problems)(Out&);
  // The fields of record `index` of `count` follow.
  void (*begin_record)(Out&, long index, std::uint32_t count);
  // `problem`: what the fields broke, null when nothing (JSON: the file's
  // "ok" says it).
  void (*end_record)(Out&, const char* problem);
  void (*end_file)(Out&, bool ok);

  // --- The report of a whole tree: its head, one line per file (`problem`
  // null when it passes), the verdict (`finished`: the migration's state
  // lets the tree pass).
  void (*begin_tree)(Out&, const TreeHead& head);
  void (*tree_file)(Out&, const char* name, const FileKind& k, const char* problem);
  void (*end_tree)(Out&, std::size_t checked, std::size_t failed, bool ok, bool finished);

  // --- The comparison of two files or trees: per file that is not the same,
  // its head, its fields, in a history the records that differ; then the
  // totals.
  void (*begin_difference)(Out&, const char* path, const char* kind, DiffStatus status);
  void (*field_difference)(Out&, const FieldDifference& d);
  void (*records_differing)(Out&, std::uint32_t differing, std::uint32_t count, const std::uint32_t* first,
                            std::size_t shown);
  void (*end_difference)(Out&);
  void (*diff_summary)(Out&, const char* a, const char* b, std::size_t compared, std::size_t differing);
};

extern const Printer text_printer;
extern const Printer json_printer;

inline Out out_for(std::FILE* file, bool json) { return Out{file, json ? &json_printer : &text_printer}; }

// Shared by the printers.
void quoted_text(std::FILE* out, std::string_view s);
void hex_bytes(std::FILE* out, ConstBytes b, std::size_t limit, const char* separator);

// The bytes of a field that the text form shows in hex; the JSON form has all.
inline constexpr std::size_t hex_pairs_shown = 32;

}  // namespace sav3::inspect
