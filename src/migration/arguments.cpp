// The command line. The tool is started without arguments by the upgrade
// scripts; a person asking a device's tool what it is must not start a
// migration.
#include <cstring>

#include "sav3/migration.h"
#include "sav3/version.h"

namespace sav3 {

namespace {
constexpr char usage[] =
    "usage: sav3-migrate\n"
    "       sav3-migrate --check [--json]\n"
    "       sav3-migrate --help | --version\n"
    "\n"
    "Migrates the legacy records under /mnt/1 and /usr/sav into /usr/sav3 and\n"
    "replaces the live trees /usr/sav and /usr/sav2 with it, once per firmware\n"
    "upgrade: nothing runs while /mnt/data/port0 exists. The state is the first\n"
    "line of /usr/sav3/.migration; each decision goes to the system log\n"
    "(ident sav3-migrate, facility user).\n"
    "\n"
    "--check tells what a run now would do, changing nothing: a line per fact\n"
    "and the verdict last (--json: one JSON object); exit status 0 when the run\n"
    "would replace the live trees or they already hold the migration, 1 when it\n"
    "would keep them, change nothing because of a problem, or cannot tell.\n";
}  // namespace

int handle_arguments(int argc, const char* const* argv, std::FILE* out, std::FILE* err, Logger log) {
  if (argc < 2 || argv[1] == nullptr || argv[1][0] != '-') return -1;
  if (std::strcmp(argv[1], "--help") == 0) {
    std::fputs(usage, out);
    return 0;
  }
  if (std::strcmp(argv[1], "--version") == 0) {
    std::fprintf(out, "sav3-migrate %s\n", version);
    return 0;
  }
  if (std::strcmp(argv[1], "--check") == 0 &&
      (argc == 2 || (argc == 3 && argv[2] != nullptr && std::strcmp(argv[2], "--json") == 0)))
    return check_migration(argc == 3, out, log);
  std::fputs(usage, err);
  return 2;
}

}  // namespace sav3
