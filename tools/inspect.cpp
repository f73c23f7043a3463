#include "inspect.h"

#include <sys/stat.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <string_view>

#include "sav3/alarm.h"
#include "sav3/container.h"
#include "sav3/controller.h"
#include "sav3/controller_record.h"
#include "sav3/device.h"
#include "sav3/inventory.h"
#include "sav3/k3.h"
#include "sav3/lq_zrt.h"
#include "sav3/migration_state.h"
#include "sav3/settings_email.h"
#include "sav3/settings_ieee8021x.h"
#include "sav3/settings_snmp.h"
#include "sav3/settings_ssl.h"
#include "sav3/settings_tcpip.h"
#include "sav3/settings_user_accounts.h"
#include "sav3/settings_web.h"

namespace sav3::inspect {

namespace {

constexpr Folder folder_of(std::string_view name) {
  return name == "data" ? Folder::data : name == "cfg" ? Folder::cfg : Folder::history;
}

constexpr Naming naming_of(std::string_view name) {
  if (name.ends_with("port%d")) return name.starts_with("sub") ? Naming::subport : Naming::port;
  return name == "port0" ? Naming::controller : Naming::fixed;
}

// Every file the migration writes under the staging tree, in the order of its
// table.
constexpr std::array<FileKind, output_files.size()> kinds = [] {
  std::array<FileKind, output_files.size()> all{};
  for (std::size_t i = 0; i < all.size(); ++i) {
    const OutputFile& f = output_files[i];
    all[i] = FileKind{f, folder_of(output_folder(f)), naming_of(output_name(f)), output_name(f).data()};
  }
  return all;
}();

const char* module_name(std::uint8_t code) {
  switch (code) {
    case module_code::none: return "empty";
    case module_code::lq: return "LQ";
    case module_code::zrt: return "ZRT";
    case module_code::k3: return "K3";
    case module_code::fifth: return "fifth kind";
    default: return "unknown";
  }
}

// The type code that byte 0 of a kind's records holds.
std::uint8_t type_code_of(const FileKind& k) {
  if (k.naming == Naming::controller) return module_code::controller;
  for (std::uint8_t c = 1; c < 8; ++c)
    if (k.modules == module_bit(c)) return c;
  return 0;
}

bool name_matches(const FileKind& k, const PathParts& where) {
  switch (k.naming) {
    case Naming::fixed: return !where.numbered && std::strcmp(where.file, k.file) == 0;
    case Naming::controller: return where.numbered && !where.sub && where.port == 0;
    case Naming::port: return where.numbered && !where.sub && where.port >= 1 && where.port <= port_count;
    case Naming::subport: return where.numbered && where.sub && where.port >= 1 && where.port <= port_count;
  }
  return false;
}

// The name of a kind's file in the tree ("data/port1").
void file_name_of(const FileKind& k, unsigned port, char* out, std::size_t n) {
  std::snprintf(out, n, "%s", output_path(k, port).text + sizeof path::staging);
}

// ---------------------------------------------------------------------------
// Output helpers.

// A string in double quotes: a quote or a backslash in it gets a backslash
// before it, a byte outside printable ASCII is written by `escape` (JSON: the
// \u form; text: the \x form).
void quoted(std::FILE* out, std::string_view s, const char* escape) {
  std::fputc('"', out);
  for (unsigned char c : s) {
    if (c == '"' || c == '\\')
      std::fprintf(out, "\\%c", c);
    else if (c < 0x20 || c >= 0x7F)
      std::fprintf(out, escape, c);
    else
      std::fputc(c, out);
  }
  std::fputc('"', out);
}

void json_string(std::FILE* out, std::string_view s) { quoted(out, s, "\\u%04x"); }
void quoted_text(std::FILE* out, std::string_view s) { quoted(out, s, "\\x%02x"); }

void hex_bytes(std::FILE* out, ConstBytes b, std::size_t limit, const char* separator) {
  for (std::size_t i = 0; i < b.size() && i < limit; ++i)
    std::fprintf(out, "%s%02x", i ? separator : "", b[i]);
}

// Seconds since the epoch as the device's local date and time.
void format_time(std::int32_t seconds, char* out, std::size_t n) {
  std::time_t t = seconds;
  std::tm tm{};
  if (localtime_r(&t, &tm) == nullptr || std::strftime(out, n, "%Y-%m-%d %H:%M:%S %Z", &tm) == 0)
    std::snprintf(out, n, "?");
}

// A stored integer divided by its scale: hundredths with two decimals, tenths
// with one; hours, days and years kept in seconds in those units.
int scale_decimals(std::uint32_t scale) {
  for (std::uint32_t p = 1, d = 0; p <= 1000000; p *= 10, ++d)
    if (scale == p) return static_cast<int>(d);
  return -1;
}

const char* scale_unit(std::uint32_t scale) {
  switch (scale) {
    case 3600: return "h";
    case 86400: return "d";
    case 604800: return "weeks";
    case 31536000: return "years";
    default: return "";
  }
}

// The physical value as a number (valid JSON as well).
void format_scaled(double value, std::uint32_t scale, char* out, std::size_t n) {
  const int decimals = scale_decimals(scale);
  if (decimals >= 0)
    std::snprintf(out, n, "%.*f", decimals, value);
  else
    std::snprintf(out, n, "%.6g", value);
}

bool all_zero(ConstBytes b) {
  for (std::uint8_t x : b)
    if (x != 0) return false;
  return true;
}

std::size_t count_non_zero(ConstBytes b) {
  std::size_t n = 0;
  for (std::uint8_t x : b) n += x != 0;
  return n;
}

// A bytes field that holds a printable text, its terminator and zeros.
bool looks_like_text(ConstBytes b) {
  std::string_view t = text_at(b, 0);
  if (t.empty()) return false;
  for (unsigned char c : t)
    if (c < 0x20 || c >= 0x7F) return c == '\n' || c == '\r' || c == '\t';
  return all_zero(slice(b, t.size(), b.size()));
}

const char* kind_name(Kind k) {
  switch (k) {
    case Kind::u8:
    case Kind::u16:
    case Kind::u32: return "unsigned";
    case Kind::s16:
    case Kind::s32: return "signed";
    case Kind::u16be: return "unsigned, high byte first";
    case Kind::f32: return "float32";
    case Kind::epoch: return "time";
    case Kind::flags: return "flags";
    case Kind::text: return "text";
    case Kind::secret: return "secret";
    case Kind::bytes: return "bytes";
    case Kind::reserved: return "reserved";
  }
  return "?";
}

// The bytes of a field that the text form shows in hex; the JSON form has all.
constexpr std::size_t hex_pairs_shown = 32;

// The printed label of a field: its name, and for an entry of a field array
// its index.
void field_label(const Field& f, char* out, std::size_t n) {
  if (f.index >= 0)
    std::snprintf(out, n, "%s %d", f.name, f.index);
  else
    std::snprintf(out, n, "%s", f.name);
}

// ---------------------------------------------------------------------------
// The one renderer of the reports. The inspector works out every fact once
// and hands it to the emitter; only the emitter's methods know the form, text
// or one JSON object per line.
//
// A field's value is told in leaves:
//   text   "  offset width  label   first fact  (further facts, ...)"
//   JSON   {"name":label,"offset":...,"width":...,"type":...,"key":value,...}
// A leaf given no text phrase is left out of the text form, one given no key
// out of the JSON form.
class Emitter {
 public:
  Emitter(std::FILE* out, bool json) : out_(out), json_(json) {}

  void begin_field(const char* label, std::size_t offset, unsigned width, const char* type) {
    text_facts_ = 0;
    if (json_) {
      std::fputs(items_++ ? ",{\"name\":" : "{\"name\":", out_);
      json_string(out_, label);
      std::fprintf(out_, ",\"offset\":%zu,\"width\":%u,\"type\":\"%s\"", offset, width, type);
    } else {
      std::fprintf(out_, "  %4zu %4u  %-36s ", offset, width, label);
    }
  }

  void end_field() {
    if (json_)
      std::fputc('}', out_);
    else
      std::fputs(text_facts_ > 1 ? ")\n" : "\n", out_);
  }

  // An integer: decimal in both forms, in text after `prefix` (null: JSON
  // only).
  void integer(const char* key, long long v, const char* prefix = "") {
    if (key_(key)) std::fprintf(out_, "%lld", v);
    if (prefix && text_()) std::fprintf(out_, "%s%lld", prefix, v);
  }

  // A bit field: decimal in JSON, `digits` hex digits after 0x in text.
  void hex_integer(const char* key, std::uint32_t v, int digits) {
    if (key_(key)) std::fprintf(out_, "%u", v);
    if (text_()) std::fprintf(out_, "0x%0*x", digits, v);
  }

  // A 32-bit word's bits: 8 hex digits, a JSON string, after 0x in text.
  void hex_word(const char* key, std::uint32_t v) {
    if (key_(key)) std::fprintf(out_, "\"%08x\"", v);
    if (text_()) std::fprintf(out_, "0x%08x", v);
  }

  // A number already formatted (valid JSON), with its unit ("" for none): in
  // JSON the unit is a member of its own.
  void number(const char* key, const char* v, const char* unit) {
    if (key_(key)) {
      std::fputs(v, out_);
      if (unit[0]) std::fprintf(out_, ",\"unit\":\"%s\"", unit);
    }
    if (text_()) std::fprintf(out_, "%s%s%s", v, unit[0] ? " " : "", unit);
  }

  // A float: null in JSON when it is no finite number; in text after
  // `prefix`.
  void real(const char* key, double v, const char* prefix = "") {
    if (key_(key)) {
      if (std::isfinite(v))
        std::fprintf(out_, "%.9g", v);
      else
        std::fputs("null", out_);
    }
    if (text_()) std::fprintf(out_, "%s%.9g", prefix, v);
  }

  // The numbers of the set bits: a list in JSON, "bits 0 1" in text (left out
  // of the text when none is set).
  void bits(const char* key, std::uint32_t v) {
    if (key_(key)) {
      std::fputc('[', out_);
      for (unsigned b = 0, first = 1; b < 32; ++b)
        if (v & (1u << b)) {
          std::fprintf(out_, "%s%u", first ? "" : ",", b);
          first = 0;
        }
      std::fputc(']', out_);
    }
    if (v != 0 && text_()) {
      std::fputs("bits", out_);
      for (unsigned b = 0; b < 32; ++b)
        if (v & (1u << b)) std::fprintf(out_, " %u", b);
    }
  }

  // A phrase that may be missing (the local time of a time field): a JSON
  // string, or null; in text as it is, or `missing`.
  void phrase(const char* key, const char* v, const char* missing) {
    if (key_(key)) string_or_null_(v);
    if (text_()) std::fputs(v ? v : missing, out_);
  }

  // A text: a JSON string, or quoted in text.
  void string(const char* key, std::string_view v) {
    if (key_(key)) json_string(out_, v);
    if (text_()) quoted_text(out_, v);
  }

  // Bytes: hex digits in JSON; in text `phrase` (left out when empty) or,
  // when it is null, hex pairs: the first few, then "..." when there are more.
  void hex(const char* key, ConstBytes b, const char* phrase) {
    if (key_(key)) {
      std::fputc('"', out_);
      hex_bytes(out_, b, b.size(), "");
      std::fputc('"', out_);
    }
    if (phrase != nullptr) {
      if (phrase[0]) note(phrase);
    } else if (text_()) {
      hex_bytes(out_, b, hex_pairs_shown, " ");
      if (b.size() > hex_pairs_shown) std::fputs(" ...", out_);
    }
  }

  // A yes or no: true or false in JSON, `phrase` in text (left out when null).
  void flag(const char* key, bool v, const char* phrase) {
    if (key_(key)) std::fputs(v ? "true" : "false", out_);
    if (phrase) note(phrase);
  }

  // A remark of the text form only.
  void note(const char* phrase) {
    if (text_()) std::fputs(phrase, out_);
  }

  // --- The report of one file.

  // A file that cannot be read (said on the error stream as well): a line of
  // its own in JSON, nothing in text.
  void unreadable_file(const char* path, const char* error) {
    if (!json_) return;
    open_("file", path);
    std::fputs(",\"ok\":false,\"error\":", out_);
    json_string(out_, error);
    std::fputs("}\n", out_);
  }

  // Bytes that are no headed record file at all, and why.
  void not_headed_file(const char* path, std::uint64_t length, const char* why) {
    if (json_) {
      open_("file", path);
      std::fprintf(out_, ",\"kind\":null,\"length\":%llu,\"problems\":[",
                   static_cast<unsigned long long>(length));
      json_string(out_, why);
      std::fputs("],\"ok\":false}\n", out_);
    } else {
      std::fprintf(out_, "%s: %s\n", path, why);
    }
  }

  // The head of a headed file's report: its kind (null: unknown) and its
  // header's record size and count.
  void begin_file(const char* path, const char* kind, const HeaderCheck& check) {
    if (json_) {
      open_("file", path);
      std::fputs(",\"kind\":", out_);
      string_or_null_(kind);
      std::fprintf(out_, ",\"length\":%llu,\"record_size\":%u,\"record_count\":%u",
                   static_cast<unsigned long long>(check.length), check.size, check.count);
    } else {
      std::fprintf(out_, "%s: %s, record size %u x count %u, header %s\n", path, kind ? kind : "unknown kind",
                   check.size, check.count, check.problems ? "DAMAGED" : "ok");
    }
  }

  // A list of problems: the JSON member `key`, a line each in text.
  void begin_problems(const char* key) {
    items_ = 0;
    if (json_) std::fprintf(out_, ",\"%s\":[", key);
  }
  void problem(const char* line) {
    if (json_) {
      if (items_++) std::fputc(',', out_);
      json_string(out_, line);
    } else {
      std::fprintf(out_, "  problem: %s\n", line);
    }
  }
  void end_problems() {
    if (json_) std::fputc(']', out_);
  }

  // The fields of record `index` of `count` follow.
  void begin_record(long index, std::uint32_t count) {
    items_ = 0;
    if (json_)
      std::fprintf(out_, ",\"record\":%ld,\"fields\":[", index);
    else if (count > 1)
      std::fprintf(out_, "  record %ld of %u (--record N for another)\n", index, count);
  }
  // `fields_ok`: no field broke the record's rules (text: a problem line when
  // one did; JSON: the file's "ok" says it).
  void end_record(bool fields_ok) {
    if (json_)
      std::fputc(']', out_);
    else if (!fields_ok)
      std::fputs("  problem: reserved bytes not zero\n", out_);
  }

  void end_file(bool ok) {
    if (json_) std::fprintf(out_, ",\"ok\":%s}\n", ok ? "true" : "false");
  }

  // --- The report of a whole tree.

  // Its head: the inventory's type codes of ports 1..4 (null when the
  // inventory cannot be used, `inventory_problem` says why; `damaged`: it was
  // read but fails its check) and the migration's state (null: no state file)
  // with its meaning. The files follow.
  void begin_tree(const char* dir, const std::uint8_t* ports, const char* inventory_problem, bool damaged,
                  const char* state, const char* state_meaning) {
    items_ = 0;
    if (json_) {
      open_("tree", dir);
      std::fputs(",\"state\":", out_);
      string_or_null_(state);
      std::fputs(",\"inventory\":", out_);
      json_string(out_, ports ? "ok" : inventory_problem);
      std::fputs(",\"ports\":", out_);
      if (ports) {
        for (int p = 1; p <= port_count; ++p) std::fprintf(out_, "%c%u", p > 1 ? ',' : '[', ports[p]);
        std::fputc(']', out_);
      } else {
        std::fputs("null", out_);
      }
      std::fputs(",\"files\":[", out_);
      return;
    }
    if (!ports)
      std::fprintf(out_,
                   "tree %s: the device inventory data/device is %s%s: the module ports' files were not "
                   "checked\n",
                   dir, damaged ? "damaged: " : "", inventory_problem);
    else
      std::fprintf(out_, "tree %s: ports 1..4 hold type codes %u %u %u %u (%s, %s, %s, %s)\n", dir, ports[1],
                   ports[2], ports[3], ports[4], module_name(ports[1]), module_name(ports[2]),
                   module_name(ports[3]), module_name(ports[4]));
    if (state) {
      std::fputs("state: ", out_);
      quoted_text(out_, state);
      std::fprintf(out_, " (%s)\n", state_meaning);
    }
  }

  // One file of the tree: its name, kind and dimensions, and its problem
  // (null when it passes).
  void tree_file(const char* name, const FileKind& k, const char* problem) {
    if (json_) {
      if (items_++) std::fputc(',', out_);
      open_("file", name);
      std::fputs(",\"kind\":", out_);
      json_string(out_, k.name);
      std::fprintf(out_, ",\"record_size\":%u,\"record_count\":%u,\"ok\":%s", k.size, k.count,
                   problem ? "false" : "true");
      if (problem) {
        std::fputs(",\"problem\":", out_);
        json_string(out_, problem);
      }
      std::fputc('}', out_);
      return;
    }
    char dims[32];
    std::snprintf(dims, sizeof dims, "%5u x %u", k.size, k.count);
    if (problem)
      std::fprintf(out_, "FAIL  %-18s %-32s %-14s %s\n", name, k.name, dims, problem);
    else
      std::fprintf(out_, "ok    %-18s %-32s %s\n", name, k.name, dims);
  }

  // The verdict: `checked` files, `failed` of them; `finished`: the
  // migration's state lets the tree pass.
  void end_tree(std::size_t checked, std::size_t failed, bool ok, bool finished) {
    if (json_)
      std::fprintf(out_, "],\"checked\":%zu,\"failed\":%zu,\"ok\":%s}\n", checked, failed,
                   ok ? "true" : "false");
    else
      std::fprintf(out_, "verdict: %s, %zu files checked, %zu failed%s\n", ok ? "PASS" : "FAIL", checked,
                   failed, finished ? "" : ", the migration is not finished");
  }

 private:
  // Starts the JSON member `key` (false in text or without a key).
  bool key_(const char* key) {
    if (!json_ || key == nullptr) return false;
    std::fprintf(out_, ",\"%s\":", key);
    return true;
  }
  // Starts a JSON object, its first member `key` with the string `value`.
  void open_(const char* key, const char* value) {
    std::fprintf(out_, "{\"%s\":", key);
    json_string(out_, value);
  }
  void string_or_null_(const char* v) {
    if (v)
      json_string(out_, v);
    else
      std::fputs("null", out_);
  }
  // Starts the next fact in text: the first as it is, the others in
  // parentheses after it (false in JSON).
  bool text_() {
    if (json_) return false;
    std::fputs(text_facts_ == 0 ? "" : text_facts_ == 1 ? "  (" : ", ", out_);
    ++text_facts_;
    return true;
  }

  std::FILE* out_;
  bool json_;
  unsigned items_ = 0;       // items of the current list so far (JSON: the comma before the next)
  unsigned text_facts_ = 0;  // facts of the current field in the text form
};

// Emits one field's value; returns false when it breaks the record's rules
// (reserved bytes that are not zero).
bool emit_value(Emitter& e, const Field& f, ConstBytes record, const Options& options) {
  const ConstBytes raw = slice(record, f.offset, f.width);
  // A secret asked for in clear is shown as the text it is.
  const Kind kind = f.kind == Kind::secret && options.show_secrets ? Kind::text : f.kind;
  char text[96];
  switch (kind) {
    case Kind::u8:
    case Kind::u16:
    case Kind::u32:
    case Kind::s16:
    case Kind::s32:
    case Kind::u16be: {
      const std::uint32_t v = get(record, f);
      const long long value = is_signed(f.kind) ? static_cast<std::int32_t>(v) : static_cast<long long>(v);
      e.integer("raw", value);
      if (f.scale != 1) {
        e.integer("scale", f.scale, nullptr);
        format_scaled(static_cast<double>(value) / f.scale, f.scale, text, sizeof text);
        e.number("value", text, scale_unit(f.scale));
      }
      return true;
    }
    case Kind::flags: {
      const std::uint32_t v = get(record, f);
      e.hex_integer("raw", v, static_cast<int>(f.width * 2));
      e.bits("bits", v);
      return true;
    }
    case Kind::f32: {
      e.real("value", static_cast<double>(get_f32(record, f)));
      e.hex_word("bits", read32le(record, f.offset));
      return true;
    }
    case Kind::epoch: {
      const std::int32_t v = get_signed(record, f);
      if (v != 0) format_time(v, text, sizeof text);
      e.integer("raw", v);
      e.phrase("time", v != 0 ? text : nullptr, "not set");
      return true;
    }
    case Kind::text: {
      const std::string_view t = text_at(raw, 0);
      const bool full = t.size() == raw.size();
      const std::size_t after = full ? 0 : count_non_zero(slice(raw, t.size() + 1, raw.size()));
      e.string("text", t);
      if (f.kind == Kind::secret) e.flag("secret", true, "secret");
      e.flag("terminated", !full, full && !raw.empty() ? "fills the field, no terminator" : nullptr);
      if (after) {
        std::snprintf(text, sizeof text, "+%zu non-zero bytes after the terminator", after);
        e.hex("hex", raw, text);
      }
      return true;
    }
    case Kind::secret: {
      // Passwords, communities and keys are never printed unless asked for:
      // only whether one is set and its length.
      const std::size_t length = text_at(raw, 0).size();
      if (length != 0)
        std::snprintf(text, sizeof text, "(secret, %zu characters, not shown)", length);
      else
        std::snprintf(text, sizeof text, "(empty)");
      e.flag("secret", true, nullptr);
      e.flag("set", length != 0, text);
      e.integer("length", static_cast<long long>(length), nullptr);
      return true;
    }
    case Kind::bytes: {
      if (raw.size() == 4) {
        e.hex("hex", raw, nullptr);
        e.integer("word", read32le(raw, 0), "word ");
        e.real("float", static_cast<double>(read_f32le(raw, 0)), "float ");
      } else if (all_zero(raw)) {
        e.hex("hex", raw, "all zero");
      } else if (looks_like_text(raw)) {
        e.hex("hex", raw, "");
        e.string(nullptr, text_at(raw, 0));
        e.note("as text");
      } else {
        e.hex("hex", raw, nullptr);
        std::snprintf(text, sizeof text, "%zu bytes, %zu not zero", raw.size(), count_non_zero(raw));
        if (raw.size() > hex_pairs_shown) e.note(text);
      }
      return true;
    }
    case Kind::reserved: {
      const std::size_t set = count_non_zero(raw);
      std::snprintf(text, sizeof text, "NOT ZERO: %zu of %u bytes set", set, unsigned{f.width});
      e.flag("zero", set == 0, set ? text : "zero");
      return set == 0;
    }
  }
  return true;
}

// Records carried whole inside another record's field, decoded by their own
// layout: the alarm history holds the inventory and an alarm state record.
struct Nested {
  const RecordLayout* outer;
  std::uint16_t offset;
  const RecordLayout* inner;
};
constexpr Nested nested[] = {
    {&alarm_history::layout, alarm_history::inventory_copy.offset, &inventory::layout},
    {&alarm_history::layout, alarm_history::state.offset, &alarm_state::layout},
};

const RecordLayout* nested_layout(const RecordLayout& outer, const Field& f) {
  for (const Nested& n : nested)
    if (n.outer == &outer && n.offset == f.offset && n.inner->size == f.width) return n.inner;
  return nullptr;
}

// Emits every field of one record (offsets from `base`, labels after
// `prefix`); returns false when a field breaks the rules.
bool emit_record(Emitter& e, const RecordLayout& layout, ConstBytes record, const Options& options,
                 std::size_t base = 0, const char* prefix = "") {
  bool ok = true;
  char label[160];
  for (const Field& f : layout.fields) {
    const int used = std::snprintf(label, sizeof label, "%s", prefix);
    field_label(f, label + used, sizeof label - static_cast<std::size_t>(used));
    if (const RecordLayout* inner = nested_layout(layout, f)) {
      char inner_prefix[sizeof label + 2];
      std::snprintf(inner_prefix, sizeof inner_prefix, "%s: ", label);
      ok = emit_record(e, *inner, slice(record, f.offset, f.width), options, base + f.offset, inner_prefix) &&
           ok;
      continue;
    }
    e.begin_field(label, base + f.offset, f.width, kind_name(f.kind));
    ok = emit_value(e, f, record, options) && ok;
    e.end_field();
  }
  return ok;
}

}  // namespace

std::span<const FileKind> file_kinds() { return kinds; }

const char* folder_name(Folder f) {
  switch (f) {
    case Folder::data: return "data";
    case Folder::cfg: return "cfg";
    case Folder::history: return "history";
  }
  return "?";
}

void describe_problem(const HeaderCheck& c, std::uint32_t bit, char* out, std::size_t n) {
  switch (bit) {
    case problem::short_header:
      std::snprintf(out, n, "truncated header: %llu bytes, a header has 30",
                    static_cast<unsigned long long>(c.length));
      break;
    case problem::magic: std::snprintf(out, n, "wrong magic: byte 0 is 0x%02x, not 0x88", c.magic); break;
    case problem::header_checksum:
      std::snprintf(out, n, "header checksum: byte 29 is 0x%02x, header bytes 0..27 need 0x%02x",
                    c.header_sum, c.header_need);
      break;
    case problem::byte_28: std::snprintf(out, n, "byte 28 is 0x%02x, not 0", c.byte_28); break;
    case problem::reserved_header: std::snprintf(out, n, "reserved header bytes 10..27 are not zero"); break;
    case problem::truncated: {
      const std::uint64_t have = c.length - 30;
      std::snprintf(
          out, n, "truncated: %llu payload bytes, record size %u x count %u needs %llu (%llu whole records)",
          static_cast<unsigned long long>(have), c.size, c.count,
          static_cast<unsigned long long>(c.expected_length() - 30),
          static_cast<unsigned long long>(c.size ? have / c.size : 0));
      break;
    }
    case problem::trailing:
      std::snprintf(out, n, "%llu bytes after the last record (record size %u x count %u)",
                    static_cast<unsigned long long>(c.length - c.expected_length()), c.size, c.count);
      break;
    case problem::payload_checksum:
      std::snprintf(out, n, "payload checksum: byte 1 is 0x%02x, the payload needs 0x%02x", c.payload_sum,
                    c.payload_need);
      break;
    default: std::snprintf(out, n, "unknown problem"); break;
  }
}

PathParts parse_path(const char* path) {
  PathParts p;
  std::string_view s(path);
  while (s.size() > 1 && s.back() == '/') s.remove_suffix(1);
  const std::size_t slash = s.rfind('/');
  const std::string_view file = slash == std::string_view::npos ? s : s.substr(slash + 1);
  std::snprintf(p.file, sizeof p.file, "%.*s", static_cast<int>(file.size()), file.data());
  if (slash != std::string_view::npos) {
    std::string_view dir = s.substr(0, slash);
    const std::size_t up = dir.rfind('/');
    if (up != std::string_view::npos) dir = dir.substr(up + 1);
    for (Folder f : {Folder::data, Folder::cfg, Folder::history})
      if (dir == folder_name(f)) {
        p.folder_known = true;
        p.folder = f;
      }
  }
  std::string_view name(p.file);
  std::string_view digits;
  if (name.starts_with("subport")) {
    p.sub = true;
    digits = name.substr(7);
  } else if (name.starts_with("port")) {
    digits = name.substr(4);
  }
  if (!digits.empty() && digits.size() <= 3) {
    unsigned v = 0;
    bool all_digits = true;
    for (char c : digits) {
      if (c < '0' || c > '9') all_digits = false;
      v = v * 10 + static_cast<unsigned>(c - '0');
    }
    if (all_digits) {
      p.numbered = true;
      p.port = v;
    }
  }
  if (!p.numbered) p.sub = false;
  return p;
}

const FileKind* identify(const PathParts& where, const HeaderCheck& check, ConstBytes file, char* why,
                         std::size_t why_size) {
  const FileKind* by_size[4] = {};
  std::size_t matches = 0;
  char sizes[160] = "";
  std::size_t names = 0;
  // By the header's record size and count; when the header is damaged, by the
  // file's length.
  for (int pass = 0; pass < 2 && matches == 0; ++pass) {
    names = 0;
    sizes[0] = '\0';
    for (const FileKind& k : kinds) {
      if (!name_matches(k, where) || (where.folder_known && k.folder != where.folder)) continue;
      ++names;
      const std::size_t used = std::strlen(sizes);
      std::snprintf(sizes + used, sizeof sizes - used, "%s%u x %u", used ? ", " : "", k.size, k.count);
      const bool fits =
          pass == 0 ? check.size == k.size : check.length == 30 + std::uint64_t{k.size} * k.count;
      if (fits && matches < 4) by_size[matches++] = &k;
    }
  }
  if (names == 0) {
    std::snprintf(why, why_size, "unknown kind: the migration writes no file named %s%s%s",
                  where.folder_known ? folder_name(where.folder) : "", where.folder_known ? "/" : "",
                  where.file);
    return nullptr;
  }
  if (matches == 0) {
    std::snprintf(why, why_size, "unknown kind: record size %u x count %u; the migration writes %s%s%s as %s",
                  check.size, check.count, where.folder_known ? folder_name(where.folder) : "",
                  where.folder_known ? "/" : "", where.file, sizes);
    return nullptr;
  }
  if (matches == 1 && !by_size[0]->type_code_first) return by_size[0];
  // Kinds of one size apart by the type code in byte 0 (LQ or ZRT).
  const std::uint8_t code = read8(file, header::size);
  for (std::size_t i = 0; i < matches; ++i)
    if (type_code_of(*by_size[i]) == code) return by_size[i];
  std::snprintf(why, why_size,
                "unknown kind: byte 0 of record 0 holds type code %u, which no %u-byte record of %s has",
                code, by_size[0]->size, where.file);
  return nullptr;
}

std::vector<std::uint8_t> load_file(const char* path, int& error) {
  std::vector<std::uint8_t> bytes;
  error = 0;
  std::FILE* f = std::fopen(path, "rb");
  if (f == nullptr) {
    error = errno;
    return bytes;
  }
  // Large enough for any record file of the migration and then some; a larger
  // file is read only this far and shows as too long.
  constexpr std::size_t limit = 16u << 20;
  std::uint8_t chunk[65536];
  std::size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0 && bytes.size() < limit)
    bytes.insert(bytes.end(), chunk, chunk + got);
  if (std::ferror(f)) error = errno ? errno : EIO;
  std::fclose(f);
  return bytes;
}

bool not_headed(const HeaderCheck& check) {
  if (check.problems & problem::short_header) return true;
  // A damaged header keeps its zero reserved bytes; other files' bytes are
  // anything.
  return (check.problems & problem::magic) &&
         (check.problems & (problem::reserved_header | problem::byte_28));
}

int inspect_file(std::FILE* out, std::FILE* err, const char* path, const Options& options) {
  Emitter e(out, options.json);
  int error = 0;
  const std::vector<std::uint8_t> bytes = load_file(path, error);
  if (error != 0) {
    std::fprintf(err, "sav3-inspect: %s: cannot read: %s\n", path, std::strerror(error));
    e.unreadable_file(path, std::strerror(error));
    return status::trouble;
  }
  const ConstBytes file(bytes);
  const HeaderCheck check = check_header(file);
  if (not_headed(check)) {
    char why[120];
    if (check.problems & problem::short_header)
      std::snprintf(why, sizeof why, "not a headed record file: %llu bytes, a header has 30",
                    static_cast<unsigned long long>(check.length));
    else
      std::snprintf(why, sizeof why,
                    "not a headed record file: byte 0 is 0x%02x, not 0x88, and the header's reserved bytes "
                    "are not zero",
                    check.magic);
    e.not_headed_file(path, check.length, why);
    return status::failed;
  }
  char why[240] = "";
  const FileKind* kind = identify(parse_path(path), check, file, why, sizeof why);
  bool ok = check.problems == 0 && kind != nullptr;
  char count_problem[120] = "";
  if (kind != nullptr && (check.size != kind->size || check.count != kind->count)) {
    std::snprintf(count_problem, sizeof count_problem,
                  "wrong size: record size %u x count %u, a %s is %u x %u", check.size, check.count,
                  kind->name, kind->size, kind->count);
    ok = false;
  }

  // The record to decode: the one asked for, or the first.
  const std::uint32_t records_present =
      check.size != 0 && file.size() > 30 ? static_cast<std::uint32_t>((file.size() - 30) / check.size) : 0;
  long index = options.record < 0 ? 0 : options.record;
  char record_problem[120] = "";
  const bool decodable = kind != nullptr && check.size == kind->size;
  if (decodable && (index >= static_cast<long>(kind->count) || index >= static_cast<long>(records_present))) {
    std::snprintf(record_problem, sizeof record_problem, "record %ld is not in the file (%u records present)",
                  index, records_present);
    ok = false;
  }
  const bool decode = decodable && record_problem[0] == '\0';

  e.begin_file(path, kind ? kind->name : nullptr, check);
  char line[200];
  e.begin_problems("header_problems");
  for (unsigned b = 0; b < problem::count; ++b)
    if (check.problems & (1u << b)) {
      describe_problem(check, 1u << b, line, sizeof line);
      e.problem(line);
    }
  e.end_problems();
  e.begin_problems("problems");
  for (const char* p : {static_cast<const char*>(why), static_cast<const char*>(count_problem),
                        static_cast<const char*>(record_problem)})
    if (p[0]) e.problem(p);
  e.end_problems();
  if (decode) {
    e.begin_record(index, kind->count);
    const bool fields_ok =
        emit_record(e, *kind->layout,
                    slice(file, 30 + static_cast<std::size_t>(index) * kind->size, kind->size), options);
    e.end_record(fields_ok);
    ok = ok && fields_ok;
  }
  e.end_file(ok);
  return ok ? status::ok : status::failed;
}

std::size_t expected_files(ConstBytes inventory, std::span<ExpectedFile> out) {
  std::size_t n = 0;
  auto add = [&](const FileKind& k, unsigned port) {
    if (n >= out.size()) return;
    out[n].kind = &k;
    out[n].port = port;
    file_name_of(k, port, out[n].name, sizeof out[n].name);
    ++n;
  };
  // In the order of the tree: data, cfg, history; in each, the fixed and
  // controller files, then ports 1..4.
  for (Folder folder : {Folder::data, Folder::cfg, Folder::history}) {
    for (const FileKind& k : kinds)
      if (k.folder == folder && (k.naming == Naming::fixed || k.naming == Naming::controller)) add(k, 0);
    for (unsigned port = 1; port <= static_cast<unsigned>(port_count); ++port) {
      const std::uint8_t code = read8(inventory, port);
      if (code >= 8) continue;
      for (const FileKind& k : kinds)
        if (k.folder == folder && (k.naming == Naming::port || k.naming == Naming::subport) &&
            (k.modules & module_bit(code)))
          add(k, port);
    }
  }
  return n;
}

// The migration's state file in the tree's top folder (".migration"): its
// first line is the state.
constexpr const char* state_name = path::state + sizeof path::staging;

bool starts_with_word(const char* line, const char* word) {
  const std::size_t n = std::strlen(word);
  return std::strncmp(line, word, n) == 0 && (line[n] == '\0' || line[n] == ' ');
}

// Checks the file of kind `k` at `path` (its bytes in `bytes`): `problem`
// gets the first thing wrong with it, "" when nothing is: that it cannot be
// read, its header's first problem, a record size or count other than its
// kind's, a record without the kind's type code in byte 0. Returns the error
// of the read (0 or errno).
int check_tree_file(const char* path, const FileKind& k, std::vector<std::uint8_t>& bytes, char* problem,
                    std::size_t n) {
  int error = 0;
  bytes = load_file(path, error);
  problem[0] = '\0';
  if (error != 0) {
    std::snprintf(problem, n, "%s", error == ENOENT ? "missing" : std::strerror(error));
    return error;
  }
  const HeaderCheck c = check_header(bytes);
  for (unsigned b = 0; b < problem::count && problem[0] == '\0'; ++b)
    if (c.problems & (1u << b)) describe_problem(c, 1u << b, problem, n);
  if (problem[0] == '\0' && (c.size != k.size || c.count != k.count))
    std::snprintf(problem, n, "wrong size: record size %u x count %u, expected %u x %u", c.size, c.count,
                  k.size, k.count);
  if (problem[0] == '\0' && k.type_code_first) {
    const std::uint8_t code = type_code_of(k);
    for (std::uint32_t r = 0; r < k.count; ++r) {
      const std::uint8_t got = read8(bytes, header::size + std::size_t{r} * k.size);
      if (got != code) {
        std::snprintf(problem, n, "record %u holds type code %u, expected %u", r, got, code);
        break;
      }
    }
  }
  return 0;
}

int inspect_tree(std::FILE* out, std::FILE* err, const char* dir, const Options& options) {
  struct stat st {};
  if (stat(dir, &st) != 0 || !S_ISDIR(st.st_mode)) {
    std::fprintf(err, "sav3-inspect: %s: %s\n", dir, std::strerror(S_ISDIR(st.st_mode) ? errno : ENOTDIR));
    return status::trouble;
  }
  char path[600];

  // The migration's state: only a finished one (or a tree without a state
  // file) can pass.
  std::snprintf(path, sizeof path, "%s/%s", dir, state_name);
  char state[128] = "";
  bool has_state = false;
  if (std::FILE* f = std::fopen(path, "rb")) {
    has_state = true;
    if (std::fgets(state, sizeof state, f) == nullptr) state[0] = '\0';
    state[std::strcspn(state, "\n")] = '\0';
    std::fclose(f);
  }
  const bool state_ok = !has_state || std::strcmp(state, state_word::done) == 0;
  const char* state_meaning =
      !has_state ? nullptr
      : state_ok ? "the live trees hold the staging tree"
      : starts_with_word(state, state_word::pending)
          ? "the live trees are not fully replaced yet; the next run finishes the replacement"
      : starts_with_word(state, state_word::kept) ? "the live trees kept their old data"
      : starts_with_word(state, state_word::abandoned)
          ? "the replacement of the live trees was given up; they may be half replaced"
          : "not a state the migration writes";

  const FileKind& inventory_kind = kinds[static_cast<std::size_t>(Output::inventory)];
  std::snprintf(path, sizeof path, "%s/%s/%s", dir, folder_name(inventory_kind.folder), inventory_kind.file);
  std::vector<std::uint8_t> device;
  char inventory_problem[240];
  const int inventory_error =
      check_tree_file(path, inventory_kind, device, inventory_problem, sizeof inventory_problem);
  std::uint8_t inventory[inventory::record_size] = {};
  const bool inventory_ok = inventory_problem[0] == '\0';
  if (inventory_ok) copy_bytes(inventory, 0, device, header::size, inventory::record_size);

  ExpectedFile files[64];
  const std::size_t n = expected_files(inventory, files);
  std::size_t failed = 0;
  Emitter e(out, options.json);
  e.begin_tree(dir, inventory_ok ? inventory : nullptr, inventory_problem, inventory_error == 0,
               has_state ? state : nullptr, state_meaning);
  for (std::size_t i = 0; i < n; ++i) {
    const FileKind& k = *files[i].kind;
    // The inventory was checked first: its row says what the head says.
    char problem_line[240];
    if (&k == &inventory_kind) {
      std::snprintf(problem_line, sizeof problem_line, "%s", inventory_problem);
    } else {
      std::snprintf(path, sizeof path, "%s/%s", dir, files[i].name);
      std::vector<std::uint8_t> bytes;
      check_tree_file(path, k, bytes, problem_line, sizeof problem_line);
    }
    const bool ok = problem_line[0] == '\0';
    if (!ok) ++failed;
    e.tree_file(files[i].name, k, ok ? nullptr : problem_line);
  }
  // Without an inventory the module files cannot be known: never a pass.
  const bool all_ok = failed == 0 && inventory_ok && state_ok;
  e.end_tree(n, failed, all_ok, state_ok);
  return all_ok ? status::ok : status::failed;
}

}  // namespace sav3::inspect
