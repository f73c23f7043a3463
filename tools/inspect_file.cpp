// The report of one file: its header checked, its kind found, one record
// decoded field by field by its layout.
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <string_view>

#include "inspect_report.h"
#include "sav3/alarm.h"
#include "sav3/inventory.h"

namespace sav3::inspect {

namespace {

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

}  // namespace

// Prints one field's value; returns false when it breaks the record's rules
// (reserved bytes that are not zero).
bool print_value(Out& o, const Field& f, ConstBytes record, const Options& options) {
  const Printer& p = *o.print;
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
      p.integer(o, "raw", value, "");
      if (f.scale != 1) {
        p.integer(o, "scale", f.scale, nullptr);
        format_scaled(static_cast<double>(value) / f.scale, f.scale, text, sizeof text);
        p.number(o, "value", text, scale_unit(f.scale));
      }
      return true;
    }
    case Kind::flags: {
      const std::uint32_t v = get(record, f);
      p.hex_integer(o, "raw", v, static_cast<int>(f.width * 2));
      p.bits(o, "bits", v);
      return true;
    }
    case Kind::f32: {
      p.real(o, "value", static_cast<double>(get_f32(record, f)), "");
      p.hex_word(o, "bits_hex", read32le(record, f.offset));
      return true;
    }
    case Kind::epoch: {
      const std::int32_t v = get_signed(record, f);
      if (v != 0) format_time(v, text, sizeof text);
      p.integer(o, "raw", v, "");
      p.phrase(o, "time", v != 0 ? text : nullptr, "not set");
      return true;
    }
    case Kind::text: {
      const std::string_view t = text_at(raw, 0);
      const bool full = t.size() == raw.size();
      const std::size_t after = full ? 0 : count_non_zero(slice(raw, t.size() + 1, raw.size()));
      p.string(o, "text", t);
      if (f.kind == Kind::secret) p.flag(o, "secret", true, "secret");
      p.flag(o, "terminated", !full, full && !raw.empty() ? "fills the field, no terminator" : nullptr);
      if (after) {
        std::snprintf(text, sizeof text, "+%zu non-zero bytes after the terminator", after);
        p.hex(o, "hex", raw, text);
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
      p.flag(o, "secret", true, nullptr);
      p.flag(o, "set", length != 0, text);
      p.integer(o, "length", static_cast<long long>(length), nullptr);
      return true;
    }
    case Kind::bytes: {
      if (raw.size() == 4) {
        p.hex(o, "hex", raw, nullptr);
        p.integer(o, "word", read32le(raw, 0), "word ");
        p.real(o, "float", static_cast<double>(read_f32le(raw, 0)), "float ");
      } else if (all_zero(raw)) {
        p.hex(o, "hex", raw, "all zero");
      } else if (looks_like_text(raw)) {
        p.hex(o, "hex", raw, "");
        p.string(o, nullptr, text_at(raw, 0));
        p.note(o, "as text");
      } else {
        p.hex(o, "hex", raw, nullptr);
        std::snprintf(text, sizeof text, "%zu bytes, %zu not zero", raw.size(), count_non_zero(raw));
        if (raw.size() > hex_pairs_shown) p.note(o, text);
      }
      return true;
    }
    case Kind::reserved: {
      const std::size_t set = count_non_zero(raw);
      std::snprintf(text, sizeof text, "NOT ZERO: %zu of %u bytes set", set, unsigned{f.width});
      p.flag(o, "zero", set == 0, set ? text : "zero");
      return set == 0;
    }
  }
  return true;
}

const RecordLayout* nested_layout(const RecordLayout& outer, const Field& f) {
  for (const Nested& n : nested)
    if (n.outer == &outer && n.offset == f.offset && n.inner->size == f.width) return n.inner;
  return nullptr;
}

void field_label(const Field& f, char* out, std::size_t n) {
  if (f.index >= 0)
    std::snprintf(out, n, "%s %d", f.name, f.index);
  else
    std::snprintf(out, n, "%s", f.name);
}

int inspect_file(std::FILE* out, std::FILE* err, const char* path, const Options& options) {
  Out o = out_for(out, options.json);
  const Printer& p = *o.print;
  int error = 0;
  const std::vector<std::uint8_t> bytes = load_file(path, error);
  if (error != 0) {
    std::fprintf(err, "sav3-inspect: %s: cannot read: %s\n", path, std::strerror(error));
    p.unreadable_file(o, path, std::strerror(error));
    return status::trouble;
  }
  const ConstBytes file(bytes);
  const HeaderCheck check = check_header(file);
  if (not_headed(check)) {
    char why[120];
    if (check.problems & problem::short_header)
      std::snprintf(why, sizeof why, "not a headed record file: %llu bytes, a header has %d",
                    static_cast<unsigned long long>(check.length), header::size);
    else
      std::snprintf(why, sizeof why,
                    "not a headed record file: byte 0 is 0x%02x, not 0x%02x, and the header's reserved bytes "
                    "are not zero",
                    check.magic, header::magic_value);
    p.not_headed_file(o, path, check.length, why);
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
      check.size != 0 && file.size() > header::size
          ? static_cast<std::uint32_t>((file.size() - header::size) / check.size)
          : 0;
  long index = options.record < 0 ? 0 : options.record;
  char record_problem[120] = "";
  const bool decodable = kind != nullptr && check.size == kind->size;
  if (decodable && (index >= static_cast<long>(kind->count) || index >= static_cast<long>(records_present))) {
    std::snprintf(record_problem, sizeof record_problem, "record %ld is not in the file (%u records present)",
                  index, records_present);
    ok = false;
  }
  const bool decode = decodable && record_problem[0] == '\0';

  p.begin_file(o, path, kind ? kind->name : nullptr, check);
  char line[200];
  p.begin_problems(o, "header_problems");
  for (unsigned b = 0; b < problem::count; ++b)
    if (check.problems & (1u << b)) {
      describe_problem(check, 1u << b, line, sizeof line);
      p.problem(o, line);
    }
  p.end_problems(o);
  p.begin_problems(o, "problems");
  for (const char* what : {static_cast<const char*>(why), static_cast<const char*>(count_problem),
                           static_cast<const char*>(record_problem)})
    if (what[0]) p.problem(o, what);
  p.end_problems(o);
  if (decode) {
    p.begin_record(o, index, kind->count);
    bool fields_ok = true;
    const ConstBytes record =
        slice(file, header::size + static_cast<std::size_t>(index) * kind->size, kind->size);
    for_each_field(*kind->layout, record,
                   [&](const char* label, const Field& f, ConstBytes bytes_of, std::size_t offset) {
                     p.begin_field(o, label, offset, f.width, kind_name(f.kind));
                     fields_ok = print_value(o, f, bytes_of, options) && fields_ok;
                     p.end_field(o);
                   });
    p.end_record(o, fields_ok ? nullptr : "reserved bytes not zero");
    ok = ok && fields_ok;
  }
  p.end_file(o, ok);
  return ok ? status::ok : status::failed;
}

}  // namespace sav3::inspect
