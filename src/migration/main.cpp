// sav3-migrate: the one-shot migration started by the firmware upgrade.
// Without arguments it migrates (or finishes or skips a migration, as the
// state in /usr/sav3 says) and exits 0; it prints nothing and tells the
// system log what it decided.
#include <cstdio>
#include <cstdlib>

#include "sav3/migration.h"

int main(int argc, char** argv) {
  const int status = sav3::handle_arguments(argc, argv, stdout, stderr, sav3::system_log);
  if (status >= 0) return status;
  sav3::run_migration([](const char* command) { return std::system(command); }, sav3::system_log);
  return 0;
}
