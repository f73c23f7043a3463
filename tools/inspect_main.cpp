// sav3-inspect: checks and decodes the headed record files of the migration.
//
//   sav3-inspect [--json] [--show-secrets] [--record N] FILE...
//   sav3-inspect [--json] --tree DIR
#include <cstdio>

#include "inspect.h"

int main(int argc, char** argv) {
  int status = sav3::inspect::inspect_command(argc, argv, stdout, stderr);
  // Buffered output may fail only when it is closed (a full disk).
  if (std::fclose(stdout) != 0) {
    std::fputs("sav3-inspect: writing the report failed\n", stderr);
    status = sav3::inspect::status::trouble;
  }
  return status;
}
