// The kinds of file the inspector knows: the migration's table of output
// files with the folder and naming of each, a file's kind from its path,
// header and first record, the header's problems in words, and the files a
// tree must hold for its inventory.
#include <cerrno>
#include <cstring>
#include <string_view>

#include "inspect.h"
#include "sav3/device.h"
#include "sav3/inventory.h"

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

bool name_matches(const FileKind& k, const PathParts& where) {
  switch (k.naming) {
    case Naming::fixed: return !where.numbered && std::strcmp(where.file, k.file) == 0;
    case Naming::controller: return where.numbered && !where.sub && where.port == 0;
    case Naming::port: return where.numbered && !where.sub && where.port >= 1 && where.port <= port_count;
    case Naming::subport: return where.numbered && where.sub && where.port >= 1 && where.port <= port_count;
  }
  return false;
}

}  // namespace

std::span<const FileKind> file_kinds() { return kinds; }

std::uint8_t type_code_of(const FileKind& k) {
  if (k.naming == Naming::controller) return module_code::controller;
  for (std::uint8_t c = 1; c < 8; ++c)
    if (k.modules == module_bit(c)) return c;
  return 0;
}

void file_name_of(const FileKind& k, unsigned port, char* out, std::size_t n) {
  std::snprintf(out, n, "%s", output_path(k, port).text + sizeof path::staging);
}

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
      std::snprintf(out, n, "truncated header: %llu bytes, a header has %d",
                    static_cast<unsigned long long>(c.length), header::size);
      break;
    case problem::magic:
      std::snprintf(out, n, "wrong magic: byte 0 is 0x%02x, not 0x%02x", c.magic, header::magic_value);
      break;
    case problem::header_checksum:
      std::snprintf(out, n, "header checksum: byte 29 is 0x%02x, header bytes 0..27 need 0x%02x",
                    c.header_sum, c.header_need);
      break;
    case problem::byte_28: std::snprintf(out, n, "byte 28 is 0x%02x, not 0", c.byte_28); break;
    case problem::reserved_header: std::snprintf(out, n, "reserved header bytes 10..27 are not zero"); break;
    case problem::truncated: {
      const std::uint64_t have = c.length - header::size;
      std::snprintf(
          out, n, "truncated: %llu payload bytes, record size %u x count %u needs %llu (%llu whole records)",
          static_cast<unsigned long long>(have), c.size, c.count,
          static_cast<unsigned long long>(c.expected_length() - header::size),
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
          pass == 0 ? check.size == k.size : check.length == header::size + std::uint64_t{k.size} * k.count;
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
  // Kinds of one size apart by the type code in byte 0 (LQ or ZRT); 0 in a
  // file that ends with its header.
  const std::uint8_t code = file.size() > header::size ? file[header::size] : 0;
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

}  // namespace sav3::inspect
