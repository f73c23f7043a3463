// sav3-inspect: checks and decodes the headed record files of the migration.
//
//   sav3-inspect [--json] [--record N] FILE...
//   sav3-inspect [--json] --tree DIR
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "inspect.h"

namespace {

int usage() {
  std::fputs(
      "usage: sav3-inspect [--json] [--record N] FILE...\n"
      "       sav3-inspect [--json] --tree DIR\n"
      "  FILE: a headed record file of the migration (kind from its folder and name:\n"
      "        data/, cfg/ or history/ and port0, port1, subport1, device, alarm, email, ...);\n"
      "        checks its header and decodes every field of one record (--record N of a history).\n"
      "  --tree DIR: checks every file the migration writes for the inventory in DIR/data/device\n"
      "        (a staging tree such as /usr/sav3); exit status 0 only when all hold.\n"
      "  --json: the same as JSON, one object per line.\n",
      stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  sav3::inspect::Options options;
  const char* tree = nullptr;
  int first_file = argc;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--json") == 0) {
      options.json = true;
    } else if (std::strcmp(argv[i], "--record") == 0 && i + 1 < argc) {
      char* end = nullptr;
      options.record = std::strtol(argv[++i], &end, 10);
      if (end == argv[i] || *end != '\0' || options.record < 0) {
        std::fprintf(stderr, "sav3-inspect: --record wants a record number from 0, not \"%s\"\n", argv[i]);
        return 2;
      }
    } else if (std::strcmp(argv[i], "--tree") == 0 && i + 1 < argc) {
      tree = argv[++i];
    } else if (std::strcmp(argv[i], "--") == 0) {
      first_file = i + 1;
      break;
    } else if (argv[i][0] == '-') {
      std::fprintf(stderr, "sav3-inspect: unknown option %s\n", argv[i]);
      return usage();
    } else {
      first_file = i;
      break;
    }
  }
  if (tree != nullptr) {
    if (first_file < argc) return usage();
    return sav3::inspect::inspect_tree(stdout, tree, options);
  }
  if (first_file >= argc) return usage();
  int status = 0;
  for (int i = first_file; i < argc; ++i)
    if (sav3::inspect::inspect_file(stdout, argv[i], options) != 0) status = 1;
  return status;
}
