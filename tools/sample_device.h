// The sample device: a realistic legacy device tree for demos and end-to-end
// runs of the migration, the same bytes for the same seed.
//
// The tree holds what an old controller with an LQ supply board on port 1, a
// ZRT module on port 2 and K3 eight-output modules on ports 3 and 4 carries
// before the upgrade: the legacy records and text files under /mnt/1 and
// /usr/sav (full 1000-record reports, one record per hour), the old daemons
// under /mnt/2, a second live tree /usr/sav2 with an update entry, and an
// empty staging folder /usr/sav3.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sav3::sample {

struct Options {
  std::uint64_t seed = 1;
  // Wall-clock seconds of report record 0 (the others follow hourly); 0: an
  // hour in 2014 picked by the seed.
  std::int64_t first_report = 0;
  // A distinct made-up secret in every credential field the migration carries
  // (all 16 SNMP list entries and accounts, every 802.1X authentication
  // text, ...) instead of the few the sample fills; planted_secrets() lists them.
  bool plant_secrets = false;
};

// Writes the tree under `root`, a host folder that stands for "/". Returns 0
// when every file was written; otherwise prints the failing path to stderr
// and returns 1.
int write_sample_device(const char* root, const Options& options);
inline int write_sample_device(const char* root, std::uint64_t seed) {
  return write_sample_device(root, Options{seed});
}

// The texts that Options::plant_secrets writes into the credential fields.
std::vector<std::string> planted_secrets();

}  // namespace sav3::sample
