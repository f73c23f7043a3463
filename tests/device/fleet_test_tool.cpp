// The fleet test's helper (host only):
//
//   sav3-fleet-test-tool json-lines FILE
//       exit 0 when FILE is JSON Lines of the tools' vocabulary (one object
//       per line, ASCII only, each member named and typed as docs/json.md
//       says), else 1 with the first problem on standard error
//   sav3-fleet-test-tool set-field FILE LABEL VALUE
//       store the integer VALUE in the field LABEL of every record of the
//       headed record file FILE (its kind taken from its path and header, as
//       the inspector takes it) and write the file again through the
//       container's writer, so that both checksums hold: the change is one a
//       different version of the tool could have made
//   sav3-migrate (this binary copied into the device sandbox under the
//   tool's name, without arguments)
//       a different version of the tool: it migrates as the tool does, then
//       stores 4242 in "range low" of the controller configuration in the
//       staging tree and in both live trees (the baseline of the fleet test).
//       Under any other name it never migrates.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "inspect.h"
#include "json_check.h"
#include "sav3/bytes.h"
#include "sav3/container.h"
#include "sav3/migration.h"

namespace {

int json_lines(const char* path) {
  int error = 0;
  const std::vector<std::uint8_t> bytes = sav3::inspect::load_file(path, error);
  if (error != 0) {
    std::fprintf(stderr, "cannot read %s: %s\n", path, std::strerror(error));
    return 2;
  }
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  const std::string problem = sav3::inspect::vocabulary_problem(text);
  if (problem.empty()) return 0;
  std::fprintf(stderr, "%s: %s\n", path, problem.c_str());
  return 1;
}

int set_field(const char* path, const char* label, const char* value_text) {
  char* end = nullptr;
  const long long value = std::strtoll(value_text, &end, 0);
  if (end == value_text || *end != '\0') {
    std::fprintf(stderr, "not a number: %s\n", value_text);
    return 2;
  }
  int error = 0;
  std::vector<std::uint8_t> file = sav3::inspect::load_file(path, error);
  if (error != 0) {
    std::fprintf(stderr, "cannot read %s: %s\n", path, std::strerror(error));
    return 2;
  }
  const sav3::HeaderCheck check = sav3::check_header(file);
  char why[200] = {};
  const sav3::inspect::FileKind* kind =
      sav3::inspect::identify(sav3::inspect::parse_path(path), check, file, why, sizeof why);
  if (kind == nullptr || check.problems != 0) {
    std::fprintf(stderr, "%s: not a sound headed record file: %s\n", path, why);
    return 2;
  }
  const sav3::Field* field = nullptr;
  for (const sav3::Field& f : kind->layout->fields)
    if (std::strcmp(f.name, label) == 0) field = &f;
  if (field == nullptr || sav3::integer_width(field->kind) == 0) {
    std::fprintf(stderr, "%s: no integer field \"%s\" in a %s\n", path, label, kind->name);
    return 2;
  }
  const sav3::Bytes payload = sav3::Bytes(file).subspan(sav3::header::size);
  const auto v = static_cast<std::uint32_t>(value);
  for (std::uint32_t r = 0; r < kind->count; ++r) {
    const std::size_t at = r * kind->size + field->offset;
    switch (field->width) {
      case 1: sav3::write8(payload, at, v); break;
      case 2:
        if (field->kind == sav3::Kind::u16be)
          sav3::write16be(payload, at, v);
        else
          sav3::write16le(payload, at, v);
        break;
      default: sav3::write32le(payload, at, v); break;
    }
  }
  const sav3::FileResult written =
      sav3::write_headed_file(path, payload, static_cast<int>(kind->size), static_cast<int>(kind->count));
  if (written != sav3::FileResult::ok) {
    std::fprintf(stderr, "%s: write failed (%d)\n", path, sav3::code(written));
    return 2;
  }
  return 0;
}

// The variant's change, in each copy of the file the migration leaves.
constexpr const char* variant_files[] = {"/usr/sav3/cfg/port0", "/usr/sav/cfg/port0", "/usr/sav2/cfg/port0"};

int variant(int argc, char** argv) {
  const int status = sav3::handle_arguments(argc, argv, stdout, stderr);
  if (status >= 0) return status;
  sav3::run_migration([](const char* command) { return std::system(command); }, sav3::system_log);
  for (const char* path : variant_files)
    if (access(path, F_OK) == 0 && set_field(path, "range low", "4242") != 0) return 1;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string_view name = argv[0] == nullptr ? "" : argv[0];
  if (name == "sav3-migrate" || name.ends_with("/sav3-migrate")) return variant(argc, argv);
  if (argc == 3 && std::strcmp(argv[1], "json-lines") == 0) return json_lines(argv[2]);
  if (argc == 5 && std::strcmp(argv[1], "set-field") == 0) return set_field(argv[2], argv[3], argv[4]);
  std::fputs("usage: sav3-fleet-test-tool json-lines FILE | set-field FILE LABEL VALUE\n", stderr);
  return 2;
}
