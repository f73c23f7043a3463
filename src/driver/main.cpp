// sav3-migrate: the one-shot migration started by the firmware upgrade.
// It takes no arguments, reads no environment and prints nothing; the exit
// status is always 0.
#include <cstdlib>

#include "sav3/driver.h"

int main() {
  sav3::run_migration([](const char* command) { return std::system(command); });
  return 0;
}
