// The comparison of two headed record files of one kind, or of two staging
// trees: the files on one side only, and per file that is not the same the
// fields that differ, with both values as the file report shows them.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "inspect_report.h"

namespace sav3::inspect {

namespace {

// The records of a history that the report names by index.
constexpr std::size_t first_records_shown = 10;

// The paths of every file under `dir`, relative to it, sorted; false when a
// folder cannot be read (errno kept).
bool list_files(const std::string& dir, const std::string& prefix, std::vector<std::string>& out) {
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return false;
  bool ok = true;
  while (const dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    // The before-image beside a staging tree is the undo's, not an output.
    if (name == "." || name == ".." || (prefix.empty() && name == ".before")) continue;
    struct stat st {};
    const std::string full = dir + "/" + name;
    if (stat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
      ok = list_files(full, prefix + name + "/", out) && ok;
    else
      out.push_back(prefix + name);
  }
  closedir(d);
  return ok;
}

// One field's value as the file report shows it: in text, or its members
// in JSON (each after a comma).
std::string shown_value(const Field& f, ConstBytes record, const Options& options, const Printer& printer) {
  char* text = nullptr;
  std::size_t length = 0;
  std::FILE* mem = open_memstream(&text, &length);
  if (mem == nullptr) return "?";
  Out o{mem, &printer};
  print_value(o, f, record, options);
  // In text: closes the parentheses of the further facts, ends the line.
  if (&printer == &text_printer) text_printer.end_field(o);
  std::fclose(mem);
  std::string value(text, length > 0 && &printer == &text_printer ? length - 1 : length);
  std::free(text);
  return value;
}

// What one field did across the records of a file.
struct FieldTally {
  std::string label;
  std::uint32_t records = 0;  // that differ in it
  long first = -1;            // the first of them
  bool secret = false;
  std::string a, b;  // its values there
  std::string a_members, b_members;
};

// The kind of a file that decodes whole: headed, of a known kind, with its
// kind's record size and count and all its records; else null.
const FileKind* decodable_kind(const char* path, ConstBytes bytes) {
  const HeaderCheck check = check_header(bytes);
  if (not_headed(check)) return nullptr;
  char why[240];
  const FileKind* kind = identify(parse_path(path), check, bytes, why, sizeof why);
  if (kind == nullptr || check.size != kind->size || check.count != kind->count ||
      check.length != check.expected_length())
    return nullptr;
  return kind;
}

struct Tally {
  std::size_t compared = 0;
  std::size_t differing = 0;
  bool trouble = false;
};

// Compares two files; `name` is how the report names them.
void compare_files(Out& o, std::FILE* err, const char* name, const char* path_a, const char* path_b,
                   const Options& options, Tally& tally) {
  ++tally.compared;
  int error_a = 0, error_b = 0;
  const std::vector<std::uint8_t> a = load_file(path_a, error_a);
  const std::vector<std::uint8_t> b = load_file(path_b, error_b);
  if (error_a != 0 || error_b != 0) {
    std::fprintf(err, "sav3-inspect: %s: cannot read: %s\n", error_a ? path_a : path_b,
                 std::strerror(error_a ? error_a : error_b));
    tally.trouble = true;
    return;
  }
  if (a == b) return;
  ++tally.differing;
  const Printer& p = *o.print;
  const FileKind* kind = decodable_kind(path_a, a);
  const FileKind* kind_b = decodable_kind(path_b, b);
  if (kind == nullptr || kind != kind_b) {
    const FileKind* either = kind ? kind : kind_b;
    p.begin_difference(o, name, either ? either->name : nullptr, DiffStatus::bytes_differ);
    p.end_difference(o);
    return;
  }

  // Record by record, field by field, in the layout's order.
  std::vector<FieldTally> fields;
  std::uint32_t differing_records = 0;
  std::uint32_t first[first_records_shown];
  for (std::uint32_t r = 0; r < kind->count; ++r) {
    const std::size_t at = header::size + std::size_t{r} * kind->size;
    const ConstBytes ra = slice(a, at, kind->size), rb = slice(b, at, kind->size);
    const bool same = std::equal(ra.begin(), ra.end(), rb.begin(), rb.end());
    if (!same && differing_records < first_records_shown) first[differing_records] = r;
    differing_records += !same;
    if (same && !fields.empty()) continue;
    std::size_t i = 0;
    for_each_field(*kind->layout, ra,
                   [&](const char* label, const Field& f, ConstBytes field_a, std::size_t offset) {
                     if (fields.size() <= i)
                       fields.push_back(FieldTally{label, 0, -1, f.kind == Kind::secret, {}, {}, {}, {}});
                     FieldTally& t = fields[i++];
                     if (same) return;
                     const ConstBytes va = slice(field_a, f.offset, f.width), vb = slice(rb, offset, f.width);
                     if (std::equal(va.begin(), va.end(), vb.begin(), vb.end())) return;
                     if (t.records++ != 0) return;
                     t.first = r;
                     if (t.secret && !options.show_secrets) return;
                     const ConstBytes record_b = slice(rb, offset - f.offset, f.offset + f.width);
                     t.a = shown_value(f, field_a, options, text_printer);
                     t.b = shown_value(f, record_b, options, text_printer);
                     t.a_members = shown_value(f, field_a, options, json_printer);
                     t.b_members = shown_value(f, record_b, options, json_printer);
                   });
  }
  if (differing_records == 0) {  // the headers alone differ
    p.begin_difference(o, name, kind->name, DiffStatus::bytes_differ);
    p.end_difference(o);
    return;
  }
  p.begin_difference(o, name, kind->name, DiffStatus::differs);
  for (const FieldTally& t : fields) {
    if (t.records == 0) continue;
    const bool hidden = t.secret && !options.show_secrets;
    p.field_difference(o, FieldDifference{t.label.c_str(), kind->count > 1 ? t.first : -1,
                                          hidden ? nullptr : t.a.c_str(), hidden ? nullptr : t.b.c_str(),
                                          t.a_members.c_str(), t.b_members.c_str(), t.secret, t.records});
  }
  if (kind->count > 1)
    p.records_differing(o, differing_records, kind->count, first,
                        std::min<std::size_t>(differing_records, first_records_shown));
  p.end_difference(o);
}

}  // namespace

int inspect_diff(std::FILE* out, std::FILE* err, const char* a, const char* b, const Options& options) {
  struct stat sa {
  }, sb{};
  for (const char* path : {a, b})
    if (stat(path, path == a ? &sa : &sb) != 0) {
      std::fprintf(err, "sav3-inspect: %s: %s\n", path, std::strerror(errno));
      return status::trouble;
    }
  Out o = out_for(out, options.json);
  Tally tally;
  if (S_ISREG(sa.st_mode) && S_ISREG(sb.st_mode)) {
    compare_files(o, err, a, a, b, options, tally);
  } else if (S_ISDIR(sa.st_mode) && S_ISDIR(sb.st_mode)) {
    std::vector<std::string> files_a, files_b;
    for (const char* dir : {a, b})
      if (!list_files(dir, "", dir == a ? files_a : files_b)) {
        std::fprintf(err, "sav3-inspect: %s: cannot read a folder: %s\n", dir, std::strerror(errno));
        return status::trouble;
      }
    std::sort(files_a.begin(), files_a.end());
    std::sort(files_b.begin(), files_b.end());
    std::size_t i = 0, j = 0;
    while (i < files_a.size() || j < files_b.size()) {
      const bool take_a = j == files_b.size() || (i < files_a.size() && files_a[i] < files_b[j]);
      const bool take_b = i == files_a.size() || (j < files_b.size() && files_b[j] < files_a[i]);
      if (take_a || take_b) {
        const std::string& name = take_a ? files_a[i++] : files_b[j++];
        ++tally.compared;
        ++tally.differing;
        o.print->begin_difference(o, name.c_str(), nullptr,
                                  take_a ? DiffStatus::only_in_a : DiffStatus::only_in_b);
        o.print->end_difference(o);
        continue;
      }
      const std::string& name = files_a[i];
      compare_files(o, err, name.c_str(), (std::string(a) + "/" + name).c_str(),
                    (std::string(b) + "/" + name).c_str(), options, tally);
      ++i;
      ++j;
    }
  } else {
    std::fprintf(err, "sav3-inspect: --diff compares two files or two folders: %s and %s\n", a, b);
    return status::trouble;
  }
  o.print->diff_summary(o, a, b, tally.compared, tally.differing);
  if (tally.trouble) return status::trouble;
  return tally.differing ? status::failed : status::ok;
}

}  // namespace sav3::inspect
