// The text form of the inspector's reports, for people.
#include <cstring>

#include "inspect_print.h"

namespace sav3::inspect {

namespace {

// Starts the next fact of a field: the first as it is, the others in
// parentheses after it.
void next_fact(Out& o) {
  std::fputs(o.facts == 0 ? "" : o.facts == 1 ? "  (" : ", ", o.file);
  ++o.facts;
}

void begin_field(Out& o, const char* label, std::size_t offset, unsigned width, const char*) {
  o.facts = 0;
  std::fprintf(o.file, "  %4zu %4u  %-36s ", offset, width, label);
}

void end_field(Out& o) { std::fputs(o.facts > 1 ? ")\n" : "\n", o.file); }

void integer(Out& o, const char*, long long v, const char* prefix) {
  if (prefix == nullptr) return;
  next_fact(o);
  std::fprintf(o.file, "%s%lld", prefix, v);
}

void hex_integer(Out& o, const char*, std::uint32_t v, int digits) {
  next_fact(o);
  std::fprintf(o.file, "0x%0*x", digits, v);
}

void hex_word(Out& o, const char*, std::uint32_t v) {
  next_fact(o);
  std::fprintf(o.file, "0x%08x", v);
}

void number(Out& o, const char*, const char* v, const char* unit) {
  next_fact(o);
  std::fprintf(o.file, "%s%s%s", v, unit[0] ? " " : "", unit);
}

void real(Out& o, const char*, double v, const char* prefix) {
  next_fact(o);
  std::fprintf(o.file, "%s%.9g", prefix, v);
}

void bits(Out& o, const char*, std::uint32_t v) {
  if (v == 0) return;
  next_fact(o);
  std::fputs("bits", o.file);
  for (unsigned b = 0; b < 32; ++b)
    if (v & (1u << b)) std::fprintf(o.file, " %u", b);
}

void phrase(Out& o, const char*, const char* v, const char* missing) {
  next_fact(o);
  std::fputs(v ? v : missing, o.file);
}

void string(Out& o, const char*, std::string_view v) {
  next_fact(o);
  quoted_text(o.file, v);
}

void note(Out& o, const char* phrase) {
  next_fact(o);
  std::fputs(phrase, o.file);
}

void hex(Out& o, const char*, ConstBytes b, const char* phrase) {
  if (phrase != nullptr) {
    if (phrase[0]) note(o, phrase);
    return;
  }
  next_fact(o);
  hex_bytes(o.file, b, hex_pairs_shown, " ");
  if (b.size() > hex_pairs_shown) std::fputs(" ...", o.file);
}

void flag(Out& o, const char*, bool, const char* phrase) {
  if (phrase) note(o, phrase);
}

// A file that cannot be read: said on the error stream only.
void unreadable_file(Out&, const char*, const char*) {}

void not_headed_file(Out& o, const char* path, std::uint64_t, const char* why) {
  std::fprintf(o.file, "%s: %s\n", path, why);
}

void begin_file(Out& o, const char* path, const char* kind, const HeaderCheck& check) {
  std::fprintf(o.file, "%s: %s, record size %u x count %u, header %s\n", path, kind ? kind : "unknown kind",
               check.size, check.count, check.problems ? "DAMAGED" : "ok");
}

void begin_problems(Out&, const char*) {}
void print_problem(Out& o, const char* line) { std::fprintf(o.file, "  problem: %s\n", line); }
void end_problems(Out&) {}

void begin_record(Out& o, long index, std::uint32_t count) {
  if (count > 1) std::fprintf(o.file, "  record %ld of %u (--record N for another)\n", index, count);
}

void end_record(Out& o, const char* what) {
  if (what) print_problem(o, what);
}

void end_file(Out&, bool) {}

void begin_tree(Out& o, const TreeHead& h) {
  if (!h.ports)
    std::fprintf(o.file,
                 "tree %s: the device inventory data/device is %s%s: the module ports' files were not "
                 "checked\n",
                 h.dir, h.damaged ? "damaged: " : "", h.inventory_problem);
  else
    std::fprintf(o.file, "tree %s: ports 1..4 hold type codes %u %u %u %u (%s, %s, %s, %s)\n", h.dir,
                 h.ports[1], h.ports[2], h.ports[3], h.ports[4], h.port_names[1], h.port_names[2],
                 h.port_names[3], h.port_names[4]);
  if (h.state) {
    std::fputs("state: ", o.file);
    quoted_text(o.file, h.state);
    std::fprintf(o.file, " (%s)\n", h.state_meaning);
  }
}

void tree_file(Out& o, const char* name, const FileKind& k, const char* what) {
  char dims[32];
  std::snprintf(dims, sizeof dims, "%5u x %u", k.size, k.count);
  if (what)
    std::fprintf(o.file, "FAIL  %-18s %-32s %-14s %s\n", name, k.name, dims, what);
  else
    std::fprintf(o.file, "ok    %-18s %-32s %s\n", name, k.name, dims);
}

void end_tree(Out& o, std::size_t checked, std::size_t failed, bool ok, bool finished) {
  std::fprintf(o.file, "verdict: %s, %zu files checked, %zu failed%s\n", ok ? "PASS" : "FAIL", checked,
               failed, finished ? "" : ", the migration is not finished");
}

void begin_difference(Out& o, const char* path, const char* kind, DiffStatus status) {
  std::fprintf(o.file, "%s: %s", diff_status_name(status), path);
  if (kind) std::fprintf(o.file, " (%s)", kind);
  std::fputc('\n', o.file);
}

void field_difference(Out& o, const FieldDifference& d) {
  std::fputs("  ", o.file);
  if (d.record >= 0) std::fprintf(o.file, "record %ld: ", d.record);
  std::fprintf(o.file, "%s: ", d.label);
  if (d.a == nullptr)
    std::fputs("the secrets differ (--show-secrets shows them)", o.file);
  else
    std::fprintf(o.file, "%s -> %s", d.a, d.b);
  if (d.records > 1) std::fprintf(o.file, "  (in %u records)", d.records);
  std::fputc('\n', o.file);
}

void records_differing(Out& o, std::uint32_t differing, std::uint32_t count, const std::uint32_t* first,
                       std::size_t shown) {
  std::fprintf(o.file, "  %u of %u records differ, the first:", differing, count);
  for (std::size_t i = 0; i < shown; ++i) std::fprintf(o.file, " %u", first[i]);
  std::fputc('\n', o.file);
}

void end_difference(Out&) {}

void diff_summary(Out& o, const char* a, const char* b, std::size_t compared, std::size_t differing) {
  if (differing == 0)
    std::fprintf(o.file, "same: %s and %s (%zu files compared)\n", a, b, compared);
  else
    std::fprintf(o.file, "different: %s and %s (%zu files compared, %zu differ)\n", a, b, compared,
                 differing);
}

}  // namespace

const Printer text_printer = {
    .begin_field = begin_field,
    .end_field = end_field,
    .integer = integer,
    .hex_integer = hex_integer,
    .hex_word = hex_word,
    .number = number,
    .real = real,
    .bits = bits,
    .phrase = phrase,
    .string = string,
    .hex = hex,
    .flag = flag,
    .note = note,
    .unreadable_file = unreadable_file,
    .not_headed_file = not_headed_file,
    .begin_file = begin_file,
    .begin_problems = begin_problems,
    .problem = print_problem,
    .end_problems = end_problems,
    .begin_record = begin_record,
    .end_record = end_record,
    .end_file = end_file,
    .begin_tree = begin_tree,
    .tree_file = tree_file,
    .end_tree = end_tree,
    .begin_difference = begin_difference,
    .field_difference = field_difference,
    .records_differing = records_differing,
    .end_difference = end_difference,
    .diff_summary = diff_summary,
};

// ---------------------------------------------------------------------------
// Shared by both forms.

// A string in double quotes, a byte outside printable ASCII in the \x form.
void quoted_text(std::FILE* out, std::string_view s) { quoted_string(out, s, "\\x%02x"); }

void hex_bytes(std::FILE* out, ConstBytes b, std::size_t limit, const char* separator) {
  for (std::size_t i = 0; i < b.size() && i < limit; ++i)
    std::fprintf(out, "%s%02x", i ? separator : "", b[i]);
}

const char* diff_status_name(DiffStatus s) {
  switch (s) {
    case DiffStatus::only_in_a: return "only in A";
    case DiffStatus::only_in_b: return "only in B";
    case DiffStatus::differs: return "differs";
    case DiffStatus::bytes_differ: return "bytes differ";
  }
  return "?";
}

}  // namespace sav3::inspect
