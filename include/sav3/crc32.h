// CRC-32 (the IEEE polynomial, reflected, as zlib and `cksum -a crc32b`
// compute it): the fingerprint of a file's bytes in the staging tree's
// manifest and in the tests that pin the migrated sample device.
#pragma once

#include <cstdint>

#include "sav3/bytes.h"

namespace sav3 {

// Continues a CRC over more bytes: crc32(b) == crc32(b2, crc32(b1)) when b is
// b1 followed by b2. The CRC of no bytes is 0.
std::uint32_t crc32(ConstBytes bytes, std::uint32_t crc = 0);

}  // namespace sav3
