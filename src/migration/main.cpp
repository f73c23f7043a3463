// sav3-migrate: the one-shot migration started by the firmware upgrade.
// Without arguments it migrates (or finishes or skips a migration, as the
// state in /usr/sav3 says) and exits 0; it prints nothing and tells the
// system log what it decided.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

#include "sav3/migration.h"

int main(int argc, char** argv) {
  const int status = sav3::handle_arguments(argc, argv, stdout, stderr, sav3::system_log);
  if (status >= 0) return status;
  // Every file the run writes is 0644 and every folder 0755, whatever the
  // mask of the script that started it (000 would leave the credentials
  // world-writable, 077 the new trees unreadable to the new firmware's
  // daemons); the copies keep their sources' modes, as cp does.
  umask(022);
  sav3::run_migration([](const char* command) { return std::system(command); }, sav3::system_log);
  return 0;
}
