// The report of a staging tree: the migration's state, the inventory, and
// every file the inventory says the migration writes, checked.
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "inspect_print.h"
#include "sav3/look.h"
#include "sav3/device.h"
#include "sav3/inventory.h"
#include "sav3/migration_state.h"

namespace sav3::inspect {

namespace {

// The migration's state file in the tree's top folder (".migration"): its
// first line is the state.
constexpr const char* state_name = path::state + sizeof path::staging;

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

}  // namespace

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
  // Never opened through a FIFO or a device node: looked at first.
  Look look;
  const int fd = open_regular_at(AT_FDCWD, path, 0, look);
  has_state = look.seen != Seen::absent;
  if (std::FILE* f = fd >= 0 ? fdopen(fd, "rb") : nullptr) {
    if (std::fgets(state, sizeof state, f) == nullptr) state[0] = '\0';
    state[std::strcspn(state, "\n")] = '\0';
    std::fclose(f);
  }
  // The first line read as the tool reads it.
  const State found = has_state ? state_of_line(state) : State::none;
  const bool state_ok = found == State::none || found == State::done;
  const char* state_meaning = state_meaning_of(found);

  const FileKind& inventory_kind = file_kinds()[static_cast<std::size_t>(Output::inventory)];
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
  Out o = out_for(out, options.json);
  TreeHead head{dir,
                inventory_ok ? inventory : nullptr,
                {},
                inventory_problem,
                inventory_error == 0,
                has_state ? state : nullptr,
                state_meaning};
  for (int port = 1; port <= port_count; ++port) head.port_names[port] = module_name(inventory[port]);
  o.print->begin_tree(o, head);
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
    o.print->tree_file(o, files[i].name, k, ok ? nullptr : problem_line);
  }
  // Without an inventory the module files cannot be known: never a pass.
  const bool all_ok = failed == 0 && inventory_ok && state_ok;
  o.print->end_tree(o, n, failed, all_ok, state_ok);
  return all_ok ? status::ok : status::failed;
}

}  // namespace sav3::inspect
