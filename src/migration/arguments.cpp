// The command line. The tool is started without arguments by the upgrade
// scripts, and only then does it migrate: a person asking a device's tool
// what it is, or mistyping an option, must not start a migration (it kills
// the DHCP client and deletes the old programs).
#include <cstring>

#include "sav3/migration.h"
#include "sav3/version.h"

namespace sav3 {

namespace {
constexpr char usage[] =
    "usage: sav3-migrate\n"
    "       sav3-migrate --check [--json]\n"
    "       sav3-migrate --status [--json]\n"
    "       sav3-migrate --retry\n"
    "       sav3-migrate --rollback | --commit\n"
    "       sav3-migrate -h | --help | --version\n"
    "\n"
    "Without arguments: migrates the legacy records under /mnt/1 and /usr/sav\n"
    "into /usr/sav3 and replaces the live trees /usr/sav and /usr/sav2 with it,\n"
    "once per firmware upgrade: nothing runs while /mnt/data/port0 exists. The\n"
    "state is the first line of /usr/sav3/.migration; each decision goes to the\n"
    "system log (ident sav3-migrate, facility user). Any other argument is a\n"
    "usage error (exit status 2) and changes nothing.\n"
    "\n"
    "--check   tells what a run now would do, changing nothing: a line per fact\n"
    "          and the verdict last (--json: one JSON object); exit status 0 when\n"
    "          the run would replace the live trees or they already hold the\n"
    "          migration, 1 when it would keep them, change nothing because of a\n"
    "          problem, or cannot tell.\n"
    "--status  tells what the state says, changing nothing: the state and what\n"
    "          it means, the run or attempt count, the version that wrote it, the\n"
    "          last failure, whether an undo is possible (--json: one JSON\n"
    "          object); exit status 0 done, 1 kept, 3 pending, 4 abandoned,\n"
    "          5 no state yet, 6 a state file that cannot be read, 7 rolling\n"
    "          back, 8 rolled back.\n"
    "--retry   starts again after \"abandoned\" (the state becomes pending when\n"
    "          the staging tree matches its manifest) or after a kept state that\n"
    "          stopped trying (its run count becomes 0); exit status 0 when reset,\n"
    "          1 when refused (a line why on standard error), changing nothing else.\n"
    "--rollback  undoes the migration: puts back every entry it removed or\n"
    "          replaced from the before-image in /usr/sav3/.before, checks and\n"
    "          flushes them, then the state is \"rolled back\" and the image goes;\n"
    "          cut short, the next boot or --rollback finishes it. Exit status 0\n"
    "          when rolled back, 1 when there is nothing to put back or it failed.\n"
    "--commit  in state \"done\": deletes the before-image (no undo after it);\n"
    "          exit status 0 when deleted or none was there, 1 when refused.\n";

// The usage and one line naming what was wrong, on standard error.
int usage_error(std::FILE* err, const char* what, const char* argument) {
  std::fputs(usage, err);
  std::fprintf(err, "sav3-migrate: %s%s\n", what, argument);
  return 2;
}

bool is(const char* argument, const char* option) { return std::strcmp(argument, option) == 0; }
}  // namespace

int handle_arguments(int argc, const char* const* argv, std::FILE* out, std::FILE* err, Logger log) {
  if (argc < 2) return -1;
  const char* first = argv[1];
  // The options with a --json form take it as their only other argument.
  const bool json = argc == 3 && is(argv[2], "--json");
  const bool alone = argc == 2;
  if ((is(first, "--help") || is(first, "-h")) && alone) {
    std::fputs(usage, out);
    return 0;
  }
  if (is(first, "--version") && alone) {
    std::fprintf(out, "sav3-migrate %s\n", version);
    return 0;
  }
  if (is(first, "--check") && (alone || json)) return check_migration(json, out, log);
  if (is(first, "--status") && (alone || json)) return status_migration(json, out, log);
  if (is(first, "--retry") && alone) return retry_migration(out, err, log);
  if (is(first, "--rollback") && alone) return rollback_migration(out, err, log);
  if (is(first, "--commit") && alone) return commit_migration(out, err, log);
  // The first argument that is not one of the options where it stands:
  // a word that is no option at all, or one in the wrong place.
  auto option = [](const char* a) {
    for (const char* o :
         {"--help", "-h", "--version", "--check", "--status", "--retry", "--rollback", "--commit", "--json"})
      if (is(a, o)) return true;
    return false;
  };
  int bad = 1;
  if (option(first) && !is(first, "--json"))
    bad = (is(first, "--check") || is(first, "--status")) && is(argv[2], "--json") ? 3 : 2;
  const char* what = argv[bad][0] == '-' && !option(argv[bad]) ? "unknown option " : "unexpected argument ";
  return usage_error(err, what, argv[bad]);
}

}  // namespace sav3
