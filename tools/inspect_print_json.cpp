// The JSON Lines form of the inspector's reports, for scripts: one object
// per file (per tree with --tree, per differing file with --diff).
#include <cmath>

#include "inspect_print.h"
#include "sav3/json.h"

namespace sav3::inspect {

namespace {

// Starts the JSON member `key` (false without a key: the leaf is the text
// form's only).
bool key(Out& o, const char* k) {
  if (k == nullptr) return false;
  std::fprintf(o.file, ",\"%s\":", k);
  return true;
}

// Starts an object of the top level (the tool and the format first), its
// next member `k` with the string `value`.
void open(Out& o, const char* k, const char* value) {
  json_head(o.file, "sav3-inspect");
  std::fprintf(o.file, ",\"%s\":", k);
  json_string(o.file, value);
}

void string_or_null(Out& o, const char* v) {
  if (v)
    json_string(o.file, v);
  else
    std::fputs("null", o.file);
}

void begin_field(Out& o, const char* label, std::size_t offset, unsigned width, const char* type) {
  o.facts = 0;
  std::fputs(o.items++ ? ",{\"name\":" : "{\"name\":", o.file);
  json_string(o.file, label);
  std::fprintf(o.file, ",\"offset\":%zu,\"width\":%u,\"type\":\"%s\"", offset, width, type);
}

void end_field(Out& o) { std::fputc('}', o.file); }

void integer(Out& o, const char* k, long long v, const char*) {
  if (key(o, k)) std::fprintf(o.file, "%lld", v);
}

void hex_integer(Out& o, const char* k, std::uint32_t v, int) {
  if (key(o, k)) std::fprintf(o.file, "%u", v);
}

void hex_word(Out& o, const char* k, std::uint32_t v) {
  if (key(o, k)) std::fprintf(o.file, "\"%08x\"", v);
}

void number(Out& o, const char* k, const char* v, const char* unit) {
  if (!key(o, k)) return;
  std::fputs(v, o.file);
  if (unit[0]) std::fprintf(o.file, ",\"unit\":\"%s\"", unit);
}

void real(Out& o, const char* k, double v, const char*) {
  if (!key(o, k)) return;
  if (std::isfinite(v))
    std::fprintf(o.file, "%.9g", v);
  else
    std::fputs("null", o.file);
}

void bits(Out& o, const char* k, std::uint32_t v) {
  if (!key(o, k)) return;
  std::fputc('[', o.file);
  for (unsigned b = 0, first = 1; b < 32; ++b)
    if (v & (1u << b)) {
      std::fprintf(o.file, "%s%u", first ? "" : ",", b);
      first = 0;
    }
  std::fputc(']', o.file);
}

void phrase(Out& o, const char* k, const char* v, const char*) {
  if (key(o, k)) string_or_null(o, v);
}

void string(Out& o, const char* k, std::string_view v) {
  if (key(o, k)) json_string(o.file, v);
}

void hex(Out& o, const char* k, ConstBytes b, const char*) {
  if (!key(o, k)) return;
  std::fputc('"', o.file);
  hex_bytes(o.file, b, b.size(), "");
  std::fputc('"', o.file);
}

void flag(Out& o, const char* k, bool v, const char*) {
  if (key(o, k)) std::fputs(v ? "true" : "false", o.file);
}

void note(Out&, const char*) {}

void unreadable_file(Out& o, const char* path, const char* error) {
  open(o, "path", path);
  std::fputs(",\"ok\":false,\"error\":", o.file);
  json_string(o.file, error);
  std::fputs("}\n", o.file);
}

void not_headed_file(Out& o, const char* path, std::uint64_t length, const char* why) {
  open(o, "path", path);
  std::fprintf(o.file, ",\"kind\":null,\"length\":%llu,\"problems\":[",
               static_cast<unsigned long long>(length));
  json_string(o.file, why);
  std::fputs("],\"ok\":false}\n", o.file);
}

void begin_file(Out& o, const char* path, const char* kind, const HeaderCheck& check) {
  open(o, "path", path);
  std::fputs(",\"kind\":", o.file);
  string_or_null(o, kind);
  std::fprintf(o.file, ",\"length\":%llu,\"record_size\":%u,\"record_count\":%u",
               static_cast<unsigned long long>(check.length), check.size, check.count);
}

void begin_problems(Out& o, const char* k) {
  o.items = 0;
  std::fprintf(o.file, ",\"%s\":[", k);
}

void print_problem(Out& o, const char* line) {
  if (o.items++) std::fputc(',', o.file);
  json_string(o.file, line);
}

void end_problems(Out& o) { std::fputc(']', o.file); }

void begin_record(Out& o, long index, std::uint32_t) {
  o.items = 0;
  std::fprintf(o.file, ",\"record\":%ld,\"fields\":[", index);
}

void end_record(Out& o, const char*) { std::fputc(']', o.file); }

void end_file(Out& o, bool ok) { std::fprintf(o.file, ",\"ok\":%s}\n", ok ? "true" : "false"); }

void begin_tree(Out& o, const TreeHead& h) {
  o.items = 0;
  open(o, "path", h.dir);
  std::fputs(",\"state\":", o.file);
  string_or_null(o, h.state);
  std::fputs(",\"state_meaning\":", o.file);
  string_or_null(o, h.state_meaning);
  std::fputs(",\"inventory_problem\":", o.file);
  string_or_null(o, h.ports ? nullptr : h.inventory_problem);
  std::fputs(",\"ports\":", o.file);
  if (h.ports) {
    Json ports{o.file};
    std::fputc('[', o.file);
    for (unsigned p = 1; p <= port_count; ++p) ports.port(p, h.ports[p]);
    std::fputc(']', o.file);
  } else {
    std::fputs("null", o.file);
  }
  std::fputs(",\"files\":[", o.file);
}

void tree_file(Out& o, const char* name, const FileKind& k, const char* what) {
  if (o.items++) std::fputc(',', o.file);
  std::fputs("{\"path\":", o.file);
  json_string(o.file, name);
  std::fputs(",\"kind\":", o.file);
  json_string(o.file, k.name);
  std::fprintf(o.file, ",\"record_size\":%u,\"record_count\":%u,\"ok\":%s,\"problem\":", k.size, k.count,
               what ? "false" : "true");
  string_or_null(o, what);
  std::fputc('}', o.file);
}

void end_tree(Out& o, std::size_t checked, std::size_t failed, bool ok, bool) {
  std::fprintf(o.file, "],\"checked\":%zu,\"failed\":%zu,\"ok\":%s}\n", checked, failed,
               ok ? "true" : "false");
}

// {"path":...,"kind":...,"status":...,"fields":[...],"records_differing":N,
//  "first_records":[...]}: the fields only for "differs", the records only
// for a history.
void begin_difference(Out& o, const char* path, const char* kind, DiffStatus status) {
  o.items = 0;
  o.list_open = status == DiffStatus::differs;
  open(o, "path", path);
  std::fputs(",\"kind\":", o.file);
  string_or_null(o, kind);
  std::fputs(",\"status\":", o.file);
  json_string(o.file, diff_status_name(status));
  if (o.list_open) std::fputs(",\"fields\":[", o.file);
}

// One side's value: the members of the field in the file report ("raw",
// "value", "text", ...) and "shown", the text the text form shows; null
// for a secret not shown.
void side(Out& o, const char* k, const char* members, const char* shown) {
  std::fprintf(o.file, ",\"%s\":", k);
  if (shown == nullptr) {
    std::fputs("null", o.file);
    return;
  }
  std::fputc('{', o.file);
  if (members[0] != '\0') std::fprintf(o.file, "%s,", members + 1);  // past its leading comma
  std::fputs("\"shown\":", o.file);
  json_string(o.file, shown);
  std::fputc('}', o.file);
}

void field_difference(Out& o, const FieldDifference& d) {
  if (o.items++) std::fputc(',', o.file);
  std::fputs("{\"name\":", o.file);
  json_string(o.file, d.label);
  if (d.record >= 0) std::fprintf(o.file, ",\"record\":%ld", d.record);
  side(o, "a", d.a_members, d.a);
  side(o, "b", d.b_members, d.b);
  std::fprintf(o.file, ",\"secret\":%s", d.secret ? "true" : "false");
  if (d.record >= 0) std::fprintf(o.file, ",\"records\":%u", d.records);
  std::fputc('}', o.file);
}

void records_differing(Out& o, std::uint32_t differing, std::uint32_t count, const std::uint32_t* first,
                       std::size_t shown) {
  if (o.list_open) std::fputc(']', o.file);
  o.list_open = false;
  std::fprintf(o.file, ",\"records_differing\":%u,\"record_count\":%u,\"first_records\":[", differing, count);
  for (std::size_t i = 0; i < shown; ++i) std::fprintf(o.file, "%s%u", i ? "," : "", first[i]);
  std::fputc(']', o.file);
}

void end_difference(Out& o) {
  if (o.list_open) std::fputc(']', o.file);
  o.list_open = false;
  std::fputs("}\n", o.file);
}

void diff_summary(Out& o, const char* a, const char* b, std::size_t compared, std::size_t differing) {
  open(o, "path", a);
  std::fputs(",\"path_b\":", o.file);
  json_string(o.file, b);
  std::fprintf(o.file, ",\"compared\":%zu,\"differing\":%zu,\"same\":%s}\n", compared, differing,
               differing == 0 ? "true" : "false");
}

}  // namespace

const Printer json_printer = {
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

}  // namespace sav3::inspect
