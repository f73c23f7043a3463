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

namespace sav3::sample {

// Writes the tree under `root`, a host folder that stands for "/". Returns 0
// when every file was written; otherwise prints the failing path to stderr
// and returns 1.
int write_sample_device(const char* root, std::uint64_t seed);

}  // namespace sav3::sample
